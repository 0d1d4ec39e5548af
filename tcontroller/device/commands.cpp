#include "tcontroller/device/commands.h"

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

std::optional<Bytes> Commands::imageDataFrame(const std::uint8_t* chunk, std::size_t n) {
    if (n > frame::kMaxChunk || (chunk == nullptr && n != 0)) {
        return std::nullopt;
    }
    Bytes out;
    out.reserve(n + frame::kFrameOverhead + frame::kChunkLengthBytes + 1);
    out.insert(out.end(),
               {frame::kStartByte,
                static_cast<std::uint8_t>(n + frame::kChunkLengthBytes + frame::kLenOverhead),
                frame::kReportId, frame::kFixedByte, frame::kCmdImageData,
                static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n & 0xFF)});
    if (n != 0) {
        out.insert(out.end(), chunk, chunk + n);
    }
    out.push_back(frame::checksum(out.data() + frame::kLenOffset, out.size() - 1));
    out.push_back(frame::kEndByte);
    out.push_back(frame::kTrailer);
    return out;
}

std::optional<Bytes> Commands::imageDataFrame(const Bytes& chunk) {
    return imageDataFrame(chunk.data(), chunk.size());
}

}  // namespace tarvo
