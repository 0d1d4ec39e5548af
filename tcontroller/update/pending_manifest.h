#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarvo {

// What a pending release's manifest says: the release's version and the
// SHA-256 of each of its two files, as 64 lower-case hex digits.
struct PendingManifest {
    std::string version;
    std::string imageSha256;
    std::string firmwareSha256;
};

// The manifest as text: "version=1.3\nimage_sha256=...\nfirmware_sha256=...\n".
std::string formatPendingManifest(const PendingManifest& manifest);

// Reads a manifest written by formatPendingManifest. Absent when any line is
// missing, repeated or unknown, a digest is not 64 hex digits, or the version
// is empty, longer than 32 characters or holds anything but printable ASCII.
std::optional<PendingManifest> parsePendingManifest(std::string_view text);

}  // namespace tarvo
