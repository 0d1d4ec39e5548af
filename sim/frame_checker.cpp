#include "sim/frame_checker.h"

#include <cstdio>

#include "sim/controller_wire.h"
#include "tcontroller/platform/hid_monitor.h"

namespace tarvo::sim {
namespace {

std::string hex(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X", value & 0xFFu);
    return text;
}

std::string n(std::size_t value) {
    return std::to_string(value);
}

}  // namespace

const char* violationKindName(ViolationKind kind) {
    switch (kind) {
        case ViolationKind::reportType:
            return "report type";
        case ViolationKind::reportId:
            return "report ID";
        case ViolationKind::size:
            return "size";
        case ViolationKind::startByte:
            return "start byte";
        case ViolationKind::length:
            return "length";
        case ViolationKind::header:
            return "header";
        case ViolationKind::checksum:
            return "checksum";
        case ViolationKind::endByte:
            return "end byte";
        case ViolationKind::trailer:
            return "trailer";
        case ViolationKind::command:
            return "command";
        case ViolationKind::payload:
            return "payload";
        case ViolationKind::order:
            return "order";
        case ViolationKind::chunk:
            return "chunk";
        case ViolationKind::firmware:
            return "firmware";
    }
    return "unknown";
}

Command FrameChecker::take(int reportType, std::uint8_t reportId, const std::uint8_t* bytes,
                           std::size_t length) {
    if (!checkStructure(reportType, reportId, bytes, length)) {
        return Command::none;
    }
    const Command command = interpret(bytes, length);
    if (command != Command::none) {
        ++counts_[static_cast<std::size_t>(command)];
    }
    return command;
}

std::size_t FrameChecker::count(Command command) const {
    return counts_[static_cast<std::size_t>(command)];
}

void FrameChecker::abandonTransfer() {
    if (state_ == State::erased || state_ == State::receiving) {
        state_ = State::idle;
    }
}

void FrameChecker::addViolation(ViolationKind kind, std::string description) {
    violations_.push_back(Violation{kind, std::move(description)});
}

bool FrameChecker::checkStructure(int reportType, std::uint8_t reportId, const std::uint8_t* bytes,
                                  std::size_t length) {
    bool ok = true;
    if (reportType != kHIDReportTypeOutput) {
        addViolation(ViolationKind::reportType,
                     "report type " + std::to_string(reportType) + " is not an output report (1)");
        ok = false;
    }
    if (bytes == nullptr || length < wire::kSmallestFrame) {
        addViolation(ViolationKind::size, "frame of " + n(bytes ? length : 0) +
                                              " bytes is shorter than the smallest frame (7)");
        return false;
    }
    if (length > wire::kReportSize) {
        addViolation(ViolationKind::size,
                     "frame of " + n(length) + " bytes does not fit one 64-byte report");
        return false;
    }
    if (bytes[0] != wire::kStart) {
        addViolation(ViolationKind::startByte, "start byte " + hex(bytes[0]) + ", expected A9");
        ok = false;
    }
    if (bytes[2] != 0x01 || bytes[3] != 0x00) {
        addViolation(ViolationKind::header,
                     "bytes 2, 3 are " + hex(bytes[2]) + " " + hex(bytes[3]) + ", expected 01 00");
        ok = false;
    }
    if (reportId != 0x01 || reportId != bytes[2]) {
        addViolation(ViolationKind::reportId, "report ID argument " + hex(reportId) +
                                                  ", expected 01 and equal to frame byte 2 (" +
                                                  hex(bytes[2]) + ")");
        ok = false;
    }
    const bool isData = bytes[4] == wire::kData;
    if (isData && bytes[1] == length - 3) {
        addViolation(ViolationKind::trailer, "data frame of " + n(length) +
                                                 " bytes has no FF trailer (LEN " + hex(bytes[1]) +
                                                 " = length - 3)");
        return false;
    }
    const std::size_t expectedLen = length - (isData ? 4 : 3);
    if (bytes[1] != expectedLen) {
        addViolation(ViolationKind::length, std::string(isData ? "data frame" : "frame") + " of " +
                                                n(length) + " bytes has LEN " + hex(bytes[1]) +
                                                ", expected " + hex(expectedLen));
        return false;
    }
    const std::size_t len = bytes[1];
    const std::uint8_t expectedCk = wire::checksum(bytes + 1, len);
    if (bytes[1 + len] != expectedCk) {
        addViolation(ViolationKind::checksum,
                     "checksum " + hex(bytes[1 + len]) + ", expected " + hex(expectedCk));
        ok = false;
    }
    if (bytes[2 + len] != wire::kEnd) {
        addViolation(ViolationKind::endByte, "end byte " + hex(bytes[2 + len]) + ", expected 5C");
        ok = false;
    }
    if (isData && bytes[3 + len] != wire::kTrailer) {
        addViolation(ViolationKind::trailer, "trailer " + hex(bytes[3 + len]) + ", expected FF");
        ok = false;
    }
    return ok;
}

Command FrameChecker::interpret(const std::uint8_t* bytes, std::size_t length) {
    const std::uint8_t cmd = bytes[4];
    if (cmd == wire::kData) {
        return takeData(bytes, length);
    }
    // Structure checked: LEN = length - 3 >= 4, so the payload size is LEN - 4.
    const std::size_t k = bytes[1] - 4u;
    const std::uint8_t* payload = bytes + 5;
    const bool oneFlagByte = k == 1 && payload[0] <= 1;
    auto badPayload = [&](const char* what, const char* expected) {
        addViolation(ViolationKind::payload,
                     std::string(what) + " with a " + n(k) + "-byte payload" +
                         (k > 0 ? " starting " + hex(payload[0]) : "") + ", expected " + expected);
        return Command::none;
    };
    switch (cmd) {
        case wire::kModel:
            return k == 0 ? Command::modelRequest : badPayload("model request", "none");
        case wire::kVersion:
            return oneFlagByte ? Command::versionRequest
                               : badPayload("version request", "one byte 00 or 01");
        case wire::kFinalStep:
            if (k != 0) {
                return badPayload("final step", "none");
            }
            if (state_ != State::complete) {
                addViolation(ViolationKind::order, "final step before a complete image");
            }
            return Command::finalStep;
        case wire::kErase:
            if (!oneFlagByte) {
                return badPayload("erase", "one byte 00 or 01");
            }
            state_ = State::erased;
            image_.clear();
            dataFrames_ = 0;
            lastChunkShort_ = false;
            return Command::erase;
        case wire::kTransfer:
            if (!oneFlagByte) {
                return badPayload("begin/end of image", "one byte 00 (begin) or 01 (end)");
            }
            if (payload[0] == 0x01) {
                return takeEnd();
            }
            if (state_ != State::erased) {
                addViolation(ViolationKind::order, "begin of image without a preceding erase");
            }
            state_ = State::receiving;
            image_.clear();
            dataFrames_ = 0;
            lastChunkShort_ = false;
            return Command::begin;
        default:
            addViolation(ViolationKind::command, "unknown command " + hex(cmd));
            return Command::none;
    }
}

Command FrameChecker::takeData(const std::uint8_t* bytes, std::size_t length) {
    // Structure checked: LEN = length - 4, the chunk sits between the length
    // field (offsets 5, 6) and CK.
    const std::size_t len = bytes[1];
    if (len < 6) {
        addViolation(ViolationKind::payload,
                     "data frame of " + n(length) + " bytes has no room for its chunk length");
        return Command::none;
    }
    if (state_ != State::receiving) {
        addViolation(ViolationKind::order, "data frame outside begin/end of image");
        return Command::none;
    }
    const std::size_t actual = len - 6;
    const std::size_t field = (static_cast<std::size_t>(bytes[5]) << 8) | bytes[6];
    if (lastChunkShort_) {
        addViolation(ViolationKind::chunk, "data frame " + n(dataFrames_) +
                                               " follows a shorter one: only the last data "
                                               "frame before the end may be shorter than 54 bytes");
    }
    if (field != actual) {
        addViolation(ViolationKind::chunk, "data frame " + n(dataFrames_) + " has chunk length " +
                                               n(field) + " but carries " + n(actual) + " bytes");
    }
    image_.insert(image_.end(), bytes + 7, bytes + 7 + actual);
    ++dataFrames_;
    lastChunkShort_ = actual < wire::kChunkSize;
    return Command::data;
}

Command FrameChecker::takeEnd() {
    if (state_ != State::receiving) {
        addViolation(ViolationKind::order, "end of image without a begin");
        return Command::end;
    }
    if (!lastChunkShort_) {
        addViolation(ViolationKind::order,
                     "end of image without a final data frame shorter than 54 bytes");
    }
    state_ = State::complete;
    return Command::end;
}

}  // namespace tarvo::sim
