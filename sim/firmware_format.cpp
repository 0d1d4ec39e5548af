#include "sim/firmware_format.h"

#include <array>
#include <cstring>

namespace tarvo::sim {
namespace {

constexpr char kImageMagic[] = "TARVOIMG";
constexpr char kFirmwareMagic[] = "TARVOFW1";

void putLe32(Bytes& out, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

std::uint32_t getLe32(const Bytes& in, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        v |= static_cast<std::uint32_t>(in[at + i]) << (8 * i);
    }
    return v;
}

}  // namespace

std::uint32_t crc32(const std::uint8_t* data, std::size_t length) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            }
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < length; ++i) {
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    }
    return crc ^ 0xFFFFFFFFu;
}

std::string versionCharsFor(const std::string& version) {
    // "1.3" -> '1','3','0'; "1.3.5" -> '1','3','5'; "2" -> '2','0','0'.
    std::string chars;
    std::string piece;
    auto flush = [&] {
        if (!piece.empty() && chars.size() < 3) {
            chars.push_back(piece[0]);
        }
        piece.clear();
    };
    for (char c : version) {
        if (c == '.') {
            flush();
        } else {
            piece.push_back(c);
        }
    }
    flush();
    if (chars.empty()) {
        return {};
    }
    while (chars.size() < 3) {
        chars.push_back('0');
    }
    return chars;
}

Bytes makeReleaseFile(FileKind kind, const std::string& version, std::size_t totalSize,
                      char model) {
    const std::size_t minimum = kReleaseHeaderSize + kReleaseTrailerSize;
    if (totalSize < minimum) {
        totalSize = minimum;
    }
    const std::size_t payload = totalSize - minimum;
    Bytes out(totalSize, 0);
    std::memcpy(out.data(), kind == FileKind::image ? kImageMagic : kFirmwareMagic, 8);
    std::string chars = versionCharsFor(version);
    chars.resize(3, '0');
    std::memcpy(out.data() + 8, chars.data(), 3);
    out[11] = static_cast<std::uint8_t>(model);
    putLe32(out, 12, static_cast<std::uint32_t>(payload));
    // xorshift32 seeded from kind and version: the same release always gets the same bytes.
    std::uint32_t state = 0x9E3779B9u ^ (kind == FileKind::image ? 0x1234567u : 0x7654321u);
    for (char c : chars) {
        state = state * 31u + static_cast<std::uint8_t>(c);
    }
    if (state == 0) {
        state = 1;
    }
    for (std::size_t i = 0; i < payload; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        out[kReleaseHeaderSize + i] = static_cast<std::uint8_t>(state);
    }
    putLe32(out, kReleaseHeaderSize + payload, crc32(out.data(), kReleaseHeaderSize + payload));
    return out;
}

std::optional<ReleaseFile> parseReleaseFile(const Bytes& file) {
    if (file.size() < kReleaseHeaderSize + kReleaseTrailerSize) {
        return std::nullopt;
    }
    ReleaseFile r;
    if (std::memcmp(file.data(), kImageMagic, 8) == 0) {
        r.kind = FileKind::image;
    } else if (std::memcmp(file.data(), kFirmwareMagic, 8) == 0) {
        r.kind = FileKind::firmware;
    } else {
        return std::nullopt;
    }
    const std::uint32_t payload = getLe32(file, 12);
    if (file.size() != kReleaseHeaderSize + payload + kReleaseTrailerSize) {
        return std::nullopt;
    }
    if (getLe32(file, kReleaseHeaderSize + payload) !=
        crc32(file.data(), kReleaseHeaderSize + payload)) {
        return std::nullopt;
    }
    r.versionChars.assign(reinterpret_cast<const char*>(file.data()) + 8, 3);
    r.model = static_cast<char>(file[11]);
    return r;
}

}  // namespace tarvo::sim
