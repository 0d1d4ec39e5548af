#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "tcontroller/base/bytes.h"

namespace tarvo {

// Builders of the host-to-controller command frames (layout in frame.h). Each
// returns the whole frame, start byte included, and nothing pads it to the
// report size.
class Commands {
  public:
    // A9 04 01 00 9E 5D 5C: asks for the model code.
    static Bytes modelRequest();
    // Asks for the firmware version. Payload 00 when `flag` is true, 01 when false.
    static Bytes firmwareVersionRequest(bool flag);
    // A9 04 01 00 9A 61 5C: sends the controller to its bootloader volume.
    static Bytes finalStepCommand();
    // Erases the image area. Payload 01 when `flag` is true, 00 when false
    // (the opposite sense of the other two one-byte payloads).
    static Bytes imageEraseCommand(bool flag);
    // Opens (`begin` true, payload 00) or closes (`begin` false, payload 01) the
    // image transfer.
    static Bytes imageTransferCommand(bool begin);
    // One image chunk: payload n >> 8, n & FF, the n chunk bytes, then CK, 5C and
    // the trailer FF. Absent when the chunk is longer than 249 bytes (its LEN
    // would not fit in one byte) or when `chunk` is null with a non-zero length.
    static std::optional<Bytes> imageDataFrame(const std::uint8_t* chunk, std::size_t n);
    static std::optional<Bytes> imageDataFrame(const Bytes& chunk);
    // The same frame built into `out`, which is resized to it and keeps its
    // capacity, so a transfer that reuses one buffer allocates nothing per
    // frame. False, `out` unchanged, where imageDataFrame is absent.
    static bool buildImageDataFrame(const std::uint8_t* chunk, std::size_t n, Bytes& out);
};

}  // namespace tarvo
