#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tcontroller/base/bytes.h"

namespace tarvo::sim {

// What a recorded protocol violation is about.
enum class ViolationKind {
    reportType,  // the write was not an output report
    reportId,    // report ID argument not 01, or not equal to the frame's byte 2
    size,        // shorter than the smallest frame (7 bytes) or longer than one report
    startByte,   // byte 0 not A9
    length,      // LEN does not match the frame's length
    header,      // bytes 2, 3 not 01 00
    checksum,    // CK wrong
    endByte,     // end byte not 5C
    trailer,     // data frame without the FF trailer
    command,     // unknown command code
    payload,     // wrong payload for the command
    order,       // out of the order erase -> begin -> data* -> end (-> final step)
    chunk,       // chunk length field wrong, or a short chunk that is not the last
    firmware,    // FW.bin on the bootloader volume is not a valid firmware file
};

const char* violationKindName(ViolationKind kind);

struct Violation {
    ViolationKind kind;
    std::string description;
};

// What a well-formed frame asks the controller to do.
enum class Command { none, modelRequest, versionRequest, erase, begin, data, end, finalStep };

// Checks host-to-controller frames strictly, one at a time, and follows the
// image transfer: erase -> begin -> data* -> end. A frame that breaks a
// structural rule is counted as a violation and dropped (Command::none). Not
// thread-safe: the owner serialises calls.
class FrameChecker {
  public:
    // Takes one written report. Never reads outside [bytes, bytes + length).
    Command take(int reportType, std::uint8_t reportId, const std::uint8_t* bytes,
                 std::size_t length);
    // The controller left the bus: a transfer in progress is abandoned (a
    // complete image stays in flash).
    void abandonTransfer();
    void addViolation(ViolationKind kind, std::string description);

    const std::vector<Violation>& violations() const { return violations_; }
    // Image bytes received since the latest begin.
    const Bytes& image() const { return image_; }
    // Data frames taken since the latest begin.
    std::size_t dataFrames() const { return dataFrames_; }
    // Frames taken per command since construction.
    std::size_t count(Command command) const;
    // An end of image followed a begin and data frames, and no erase since.
    bool imageComplete() const { return state_ == State::complete; }

  private:
    enum class State { idle, erased, receiving, complete };

    bool checkStructure(int reportType, std::uint8_t reportId, const std::uint8_t* bytes,
                        std::size_t length);
    Command interpret(const std::uint8_t* bytes, std::size_t length);
    Command takeData(const std::uint8_t* bytes, std::size_t length);
    Command takeEnd();

    State state_ = State::idle;
    Bytes image_;
    std::size_t dataFrames_ = 0;
    bool lastChunkShort_ = false;
    std::size_t counts_[8] = {};
    std::vector<Violation> violations_;
};

// The bootloader's mass-storage volume: a directory the simulator owns, or a

}  // namespace tarvo::sim
