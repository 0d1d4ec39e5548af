#include "tcontroller/device/commands.h"

#include <cstring>

#include "tcontroller/device/frame.h"

namespace tarvo {

namespace {

// A9 LEN 01 00 CMD payload CK 5C, with the payload of at most one byte.
Bytes commandFrame(std::uint8_t cmd, std::optional<std::uint8_t> payload) {
    Bytes out{frame::kStartByte, 0, frame::kReportId, frame::kFixedByte, cmd};
    if (payload) {
        out.push_back(*payload);
    }
    out[frame::kLenOffset] = static_cast<std::uint8_t>(out.size() - 1);
    out.push_back(frame::checksum(out.data() + frame::kLenOffset, out.size() - 1));
    out.push_back(frame::kEndByte);
    return out;
}

std::uint8_t trueAsZero(bool value) {
    return value ? 0x00 : 0x01;
}

}  // namespace

Bytes Commands::modelRequest() {
    return commandFrame(frame::kCmdModel, std::nullopt);
}

Bytes Commands::firmwareVersionRequest(bool flag) {
    return commandFrame(frame::kCmdFirmwareVersion, trueAsZero(flag));
}

Bytes Commands::finalStepCommand() {
    return commandFrame(frame::kCmdFinalStep, std::nullopt);
}

Bytes Commands::imageEraseCommand(bool flag) {
    return commandFrame(frame::kCmdImageErase, flag ? 0x01 : 0x00);
}

Bytes Commands::imageTransferCommand(bool begin) {
    return commandFrame(frame::kCmdImageTransfer, trueAsZero(begin));
}

bool Commands::buildImageDataFrame(const std::uint8_t* chunk, std::size_t n, Bytes& out) {
    if (n > frame::kMaxChunk || (chunk == nullptr && n != 0)) {
        return false;
    }
    constexpr std::size_t kHeader = 7;  // start, LEN, 01, 00, CMD, n >> 8, n & FF
    out.resize(n + frame::kFrameOverhead + frame::kChunkLengthBytes + 1);
    const auto len = static_cast<std::uint8_t>(n + frame::kChunkLengthBytes + frame::kLenOverhead);
    const auto high = static_cast<std::uint8_t>(n >> 8);
    const auto low = static_cast<std::uint8_t>(n & 0xFF);
    std::uint8_t* at = out.data();
    at[0] = frame::kStartByte;
    at[1] = len;
    at[2] = frame::kReportId;
    at[3] = frame::kFixedByte;
    at[4] = frame::kCmdImageData;
    at[5] = high;
    at[6] = low;
    if (n != 0) {
        std::memcpy(at + kHeader, chunk, n);
    }
    // The checksum covers LEN through the payload. It is summed from the values
    // and the caller's chunk, never read back from `out`: loading bytes just
    // stored, in wider loads than they were stored with, stalls the CPU for
    // longer than the whole sum takes.
    const unsigned header =
        len + frame::kReportId + frame::kFixedByte + frame::kCmdImageData + high + low;
    at[kHeader + n] = frame::checksumForSum(header + frame::byteSum(chunk, n));
    at[kHeader + n + 1] = frame::kEndByte;
    at[kHeader + n + 2] = frame::kTrailer;
    return true;
}

std::optional<Bytes> Commands::imageDataFrame(const std::uint8_t* chunk, std::size_t n) {
    Bytes out;
    if (!buildImageDataFrame(chunk, n, out)) {
        return std::nullopt;
    }
    return out;
}

std::optional<Bytes> Commands::imageDataFrame(const Bytes& chunk) {
    return imageDataFrame(chunk.data(), chunk.size());
}

}  // namespace tarvo
