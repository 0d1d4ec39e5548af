// Any text as a version, a query value or a local path: the release addresses
// are the base, the fixed path and the version verbatim; an encoded query or
// file address keeps only the bytes its part may carry, and decodes back to
// exactly the text it came from.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tcontroller/catalogue/firmware_names.h"

namespace {

constexpr std::string_view kBase = "http://firmware.tarvo.example";

bool isUnreserved(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

bool isSubDelimiter(char c) {
    return std::string_view("!$&'()*+,;=").find(c) != std::string_view::npos;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;  // lower-case digits are never written
}

// Decodes %XX; aborts on a byte outside `extra`, the unreserved characters and
// the sub-delimiters, or on a malformed escape.
std::string decodeOrAbort(std::string_view encoded, std::string_view extra) {
    std::string out;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        const char c = encoded[i];
        if (c == '%') {
            if (i + 2 >= encoded.size()) {
                std::abort();
            }
            const int high = hexValue(encoded[i + 1]);
            const int low = hexValue(encoded[i + 2]);
            if (high < 0 || low < 0) {
                std::abort();
            }
            out.push_back(static_cast<char>(high * 16 + low));
            i += 2;
        } else if (isUnreserved(c) || isSubDelimiter(c) ||
                   extra.find(c) != std::string_view::npos) {
            out.push_back(c);
        } else {
            std::abort();
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const std::string image = tarvo::imageAddress(kBase, text);
    const std::string firmware = tarvo::firmwareAddress(kBase, text);
    if (image != std::string(kBase) + std::string(tarvo::kImagePathPrefix) + std::string(text) +
                     ".bin" ||
        firmware != std::string(kBase) + std::string(tarvo::kFirmwarePathPrefix) +
                        std::string(text) + ".bin") {
        std::abort();
    }
    if (tarvo::historyQueryPrefix(text) !=
        std::string(text) + std::string(tarvo::kHistoryQueryPath)) {
        std::abort();
    }

    // A file address: the scheme, then a path with no query or fragment.
    const std::string file = tarvo::fileAddressOfPath(text);
    if (!file.starts_with("file://")) {
        std::abort();
    }
    const std::string_view path = std::string_view(file).substr(7);
    if (path.find_first_of("?#") != std::string_view::npos || decodeOrAbort(path, ":@/") != text) {
        std::abort();
    }

    // The local name of any path is its last component, without ".bin" pieces.
    const std::string name = tarvo::localFileName(text);
    if (name.find('/') != std::string::npos || name.size() > text.size()) {
        std::abort();
    }
    return 0;
}
