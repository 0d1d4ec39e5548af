#include "tcontroller/update/pending_manifest.h"

#include <algorithm>

namespace tarvo {
namespace {

constexpr std::size_t kMaxVersion = 32;
constexpr std::size_t kDigestLength = 64;

bool isDigest(std::string_view text) {
    return text.size() == kDigestLength && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

bool isVersion(std::string_view text) {
    return !text.empty() && text.size() <= kMaxVersion &&
           std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c < 0x7F; });
}

}  // namespace

std::string formatPendingManifest(const PendingManifest& manifest) {
    return "version=" + manifest.version + "\nimage_sha256=" + manifest.imageSha256 +
           "\nfirmware_sha256=" + manifest.firmwareSha256 + "\n";
}

std::optional<PendingManifest> parsePendingManifest(std::string_view text) {
    PendingManifest manifest;
    bool seen[3] = {false, false, false};
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos) {
            return std::nullopt;  // every line ends in a line break: a cut file is no manifest
        }
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            return std::nullopt;
        }
        const std::string_view key = line.substr(0, equals);
        const std::string_view value = line.substr(equals + 1);
        int index = -1;
        std::string* field = nullptr;
        if (key == "version" && isVersion(value)) {
            index = 0;
            field = &manifest.version;
        } else if (key == "image_sha256" && isDigest(value)) {
            index = 1;
            field = &manifest.imageSha256;
        } else if (key == "firmware_sha256" && isDigest(value)) {
            index = 2;
            field = &manifest.firmwareSha256;
        }
        if (field == nullptr || seen[index]) {
            return std::nullopt;
        }
        seen[index] = true;
        field->assign(value);
    }
    if (!(seen[0] && seen[1] && seen[2])) {
        return std::nullopt;
    }
    return manifest;
}

}  // namespace tarvo
