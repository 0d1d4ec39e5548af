#include "tcontroller/catalogue/version.h"

#include <array>
#include <cstddef>
#include <limits>
#include <optional>

namespace tarvo {
namespace {

// One piece as a signed 64-bit integer: an optional single sign, then one or
// more ASCII digits and nothing else. Anything else, or a value outside the
// signed 64-bit range, is not an integer.
std::optional<std::int64_t> pieceValue(std::string_view piece) {
    bool negative = false;
    if (!piece.empty() && (piece.front() == '+' || piece.front() == '-')) {
        negative = piece.front() == '-';
        piece.remove_prefix(1);
    }
    if (piece.empty()) {
        return std::nullopt;
    }
    // Accumulate the magnitude unsigned; the most negative value has no
    // positive counterpart, hence the separate limit.
    const std::uint64_t limit =
        static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + (negative ? 1 : 0);
    std::uint64_t magnitude = 0;
    for (char c : piece) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (magnitude > (limit - digit) / 10) {
            return std::nullopt;
        }
        magnitude = magnitude * 10 + digit;
    }
    if (!negative) {
        return static_cast<std::int64_t>(magnitude);
    }
    // -(magnitude) without overflowing for the minimum value.
    return magnitude == 0 ? 0 : -static_cast<std::int64_t>(magnitude - 1) - 1;
}

bool fitsInt64(__int128 v) {
    return v >= std::numeric_limits<std::int64_t>::min() &&
           v <= std::numeric_limits<std::int64_t>::max();
}

}  // namespace

std::int64_t versionKey(std::string_view v) {
    // Values of the first three non-empty pieces; absent and non-integer pieces are 0.
    std::array<std::int64_t, 3> values{0, 0, 0};
    std::size_t taken = 0;
    std::size_t start = 0;
    while (taken < values.size() && start <= v.size()) {
        std::size_t dot = v.find('.', start);
        if (dot == std::string_view::npos) {
            dot = v.size();
        }
        if (dot > start) {
            values[taken++] = pieceValue(v.substr(start, dot - start)).value_or(0);
        }
        start = dot + 1;
    }

    // Every piece fits in 64 bits, so the exact key a*10000 + b*100 + c fits in
    // 128 bits. When it is representable it is the key, the same value as the
    // step-by-step signed 64-bit computation gives whenever that one does not
    // overflow.
    static constexpr std::array<std::int64_t, 3> kWeights{10000, 100, 1};
    __int128 exact = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        exact += static_cast<__int128>(values[i]) * kWeights[i];
    }
    if (fitsInt64(exact)) {
        return static_cast<std::int64_t>(exact);
    }

    // The key would leave the signed 64-bit range (a first piece of about
    // 9.2e14 or more, say). Rather than fail, the pieces are added in order and
    // a piece whose term would carry the running total out of range counts as
    // 0, just like a piece that is not an integer: "999999999999999.1" is 100.
    __int128 total = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const __int128 next = total + static_cast<__int128>(values[i]) * kWeights[i];
        if (fitsInt64(next)) {
            total = next;
        }
    }
    return static_cast<std::int64_t>(total);
}

bool isNewer(std::string_view a, std::string_view b) {
    return versionKey(a) > versionKey(b);
}

}  // namespace tarvo
