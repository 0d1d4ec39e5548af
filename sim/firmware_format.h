#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "tcontroller/base/bytes.h"

// The file format of the simulated controller's firmware releases. A maker's real
// release replaces these files; the tool itself never looks inside them.
//
//   offset 0   8 bytes  magic: "TARVOIMG" (image file) or "TARVOFW1" (firmware file)
//   offset 8   3 bytes  version characters as the controller reports them ("130" = 1.3)
//   offset 11  1 byte   model code ("T")
//   offset 12  4 bytes  payload length, little-endian
//   offset 16  n bytes  payload (deterministic pseudo-random bytes)
//   offset 16+n 4 bytes CRC-32 (IEEE) of bytes 0 .. 15+n, little-endian
namespace tarvo::sim {

enum class FileKind { image, firmware };

struct ReleaseFile {
    FileKind kind = FileKind::firmware;
    std::string versionChars;  // exactly three characters
    char model = 'T';
};

inline constexpr std::size_t kReleaseHeaderSize = 16;
inline constexpr std::size_t kReleaseTrailerSize = 4;

std::uint32_t crc32(const std::uint8_t* data, std::size_t length);

// "1.3" -> "130", "1.2" -> "120", "1.3.5" -> "135": only the first character
// of each of the first two pieces is kept, as the controller can report no more.
// Returns empty when the version has no usable characters.
std::string versionCharsFor(const std::string& version);

// Builds a release file whose total size is exactly `totalSize` bytes (at least
// header + trailer); the payload depends only on kind, version and size.
Bytes makeReleaseFile(FileKind kind, const std::string& version, std::size_t totalSize,
                      char model = 'T');

// Parses and checks a release file: magic, length and CRC. Absent when any check fails.
std::optional<ReleaseFile> parseReleaseFile(const Bytes& file);

}  // namespace tarvo::sim
