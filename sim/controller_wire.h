#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tcontroller/base/bytes.h"

// The controller's frames as the simulator knows them. Written independently
// of the tool's own frame code (tcontroller/device), so that the simulated
// controller catches the tool's mistakes instead of sharing them.
//
//   A9 LEN 01 00 CMD payload... CK 5C [FF]
//
// LEN counts the bytes from LEN to the last payload byte; CK makes those bytes
// sum to 0 mod 256; data frames carry the FF trailer. Every frame travels in
// one 64-byte report.
namespace tarvo::sim::wire {

inline constexpr std::uint8_t kStart = 0xA9;
inline constexpr std::uint8_t kEnd = 0x5C;
inline constexpr std::uint8_t kTrailer = 0xFF;

// Command codes.
inline constexpr std::uint8_t kModel = 0x9E;
inline constexpr std::uint8_t kVersion = 0xA0;
inline constexpr std::uint8_t kErase = 0x98;
inline constexpr std::uint8_t kTransfer = 0x96;  // payload 00: begin of image, 01: end
inline constexpr std::uint8_t kData = 0x97;
inline constexpr std::uint8_t kFinalStep = 0x9A;

inline constexpr std::size_t kReportSize = 64;
inline constexpr std::size_t kSmallestFrame = 7;  // no payload: A9 LEN 01 00 CMD CK 5C
inline constexpr std::size_t kChunkSize = 54;     // image bytes in a full data frame

// The checksum byte of `count` bytes starting at LEN.
std::uint8_t checksum(const std::uint8_t* bytes, std::size_t count);

// The controller's answers, padded to a whole report.
Bytes modelReply(char model);
// `versionChars` as the controller reports them ("110" = 1.1).
Bytes versionReply(const std::string& versionChars);

}  // namespace tarvo::sim::wire
