// Any two picked paths (the input split at its first NUL byte, or in half):
// a verdict assigns each role to a different file, both names carry the two
// marks the roles need, and the version is a piece of the firmware file's name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "tcontroller/catalogue/firmware_names.h"

namespace {

std::string lower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t cut = input.find('\0');
    const std::string_view first = input.substr(0, cut == std::string_view::npos ? size / 2 : cut);
    const std::string_view second =
        input.substr(cut == std::string_view::npos ? size / 2 : cut + 1);

    const auto verdict = tarvo::judgeLocalPair(first, second);
    const auto swapped = tarvo::judgeLocalPair(second, first);
    // Validity does not depend on the order of the two files.
    if (verdict.has_value() != swapped.has_value()) {
        std::abort();
    }
    if (!verdict) {
        return 0;
    }
    if (verdict->firmwareIndex > 1 || verdict->imageIndex > 1 ||
        verdict->firmwareIndex == verdict->imageIndex) {
        std::abort();
    }
    const std::string names[2] = {tarvo::localFileName(first), tarvo::localFileName(second)};
    const std::string fw = lower(names[verdict->firmwareIndex]);
    const std::string img = lower(names[verdict->imageIndex]);
    if (!fw.starts_with("tarvo remote_") || !img.starts_with("tarvo remote_") ||
        fw.find("_fw_") == std::string::npos || img.find("_img_") == std::string::npos) {
        std::abort();
    }
    const std::string& version = verdict->version;
    if (version.find('_') != std::string::npos ||
        names[verdict->firmwareIndex].find(version) == std::string::npos) {
        std::abort();
    }
    // Names never keep a path separator.
    if (names[0].find('/') != std::string::npos || names[1].find('/') != std::string::npos) {
        std::abort();
    }
    return 0;
}
