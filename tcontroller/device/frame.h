#pragma once

#include <cstddef>
#include <cstdint>

// Layout of the command frame exchanged with the controller, host to device and
// back:
//
//   offset 0     A9        start byte (never summed)
//   offset 1     LEN       count of bytes from offset 1 through the last payload byte
//   offset 2     01        fixed; also the HID report ID the frame is written with
//   offset 3     00        fixed
//   offset 4     CMD       command code
//   offset 5     payload   k bytes (0, 1, or 2 + n for the image data frame)
//   offset 5+k   CK        checksum of the bytes at offsets 1 .. 4+k
//   offset 6+k   5C        end byte
//   offset 7+k   FF        trailer, image data frame only
//
// So LEN = k + 4 and a frame without trailer is LEN + 3 bytes long.
namespace tarvo::frame {

inline constexpr std::uint8_t kStartByte = 0xA9;
inline constexpr std::uint8_t kReportId = 0x01;   // the fixed byte at offset 2
inline constexpr std::uint8_t kFixedByte = 0x00;  // the fixed byte at offset 3
inline constexpr std::uint8_t kEndByte = 0x5C;
inline constexpr std::uint8_t kTrailer = 0xFF;

// Command codes (offset 4).
inline constexpr std::uint8_t kCmdModel = 0x9E;
inline constexpr std::uint8_t kCmdFirmwareVersion = 0xA0;
inline constexpr std::uint8_t kCmdFinalStep = 0x9A;
inline constexpr std::uint8_t kCmdImageErase = 0x98;
inline constexpr std::uint8_t kCmdImageTransfer = 0x96;
inline constexpr std::uint8_t kCmdImageData = 0x97;

// Offsets of the header fields.
inline constexpr std::size_t kStartOffset = 0;
inline constexpr std::size_t kLenOffset = 1;

// LEN counts the three header bytes after the start byte plus CMD: LEN = k + 4.
inline constexpr std::size_t kLenOverhead = 4;
// Bytes around the payload: start, LEN, 01, 00, CMD before; CK, end byte after.
inline constexpr std::size_t kFrameOverhead = 7;

// Size of every HID report, in both directions.
inline constexpr std::size_t kReportSize = 64;
// Image bytes per data frame: a 54-byte chunk makes a frame of exactly one report.
inline constexpr std::size_t kChunkSize = 54;
// The largest chunk whose LEN (chunk + 6) still fits in one byte.
inline constexpr std::size_t kMaxChunk = 249;
// The data frame's payload starts with the chunk length, high byte first.
inline constexpr std::size_t kChunkLengthBytes = 2;

// Replies use the same layout. The model reply carries one payload byte, the
// firmware version reply three.
inline constexpr std::uint8_t kModelReplyLen = 0x05;
inline constexpr std::size_t kModelByteOffset = 5;
inline constexpr std::size_t kModelReplyEndOffset = 7;
inline constexpr std::uint8_t kFirmwareReplyLen = 0x07;
inline constexpr std::size_t kVersionOffset = 5;
inline constexpr std::size_t kVersionBytes = 3;
inline constexpr std::size_t kFirmwareReplyEndOffset = 9;

// The sum of `length` bytes (none when `length` is 0, `bytes` may then be null).
constexpr unsigned byteSum(const std::uint8_t* bytes, std::size_t length) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < length; ++i) {
        sum += bytes[i];
    }
    return sum;
}

// The checksum byte for bytes that sum to `sum`: the value that brings the sum
// to a multiple of 256 (so 00, not 100, when it already is one).
constexpr std::uint8_t checksumForSum(unsigned sum) {
    return static_cast<std::uint8_t>((256u - sum % 256u) % 256u);
}

// The checksum byte for `summed`, the frame bytes from offset 1 through the last
// payload byte.
constexpr std::uint8_t checksum(const std::uint8_t* summed, std::size_t length) {
    return checksumForSum(byteSum(summed, length));
}

}  // namespace tarvo::frame
