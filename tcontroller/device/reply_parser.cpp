#include "tcontroller/device/reply_parser.h"

#include <optional>

#include "tcontroller/device/frame.h"

namespace tarvo {

namespace {

bool isContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// Length in bytes of the character starting at `pos`: a well-formed UTF-8
// sequence whole, anything else one byte.
std::size_t characterLength(std::string_view text, std::size_t pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    std::size_t length = 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
    }
    if (pos + length > text.size()) {
        return 1;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (!isContinuation(static_cast<unsigned char>(text[pos + i]))) {
            return 1;
        }
    }
    return length;
}

// One byte decoded on its own as UTF-8: only 00..7F form a character by themselves.
std::optional<char> decodeAlone(std::uint8_t byte) {
    if (byte >= 0x80) {
        return std::nullopt;
    }
    return static_cast<char>(byte);
}

ReplyDecision modelReply(const std::uint8_t* report, std::size_t length) {
    if (length <= frame::kModelReplyEndOffset ||
        report[frame::kLenOffset] != frame::kModelReplyLen ||
        report[frame::kModelReplyEndOffset] != frame::kEndByte) {
        return {};
    }
    ReplyDecision decision;
    decision.kind = ReplyDecision::Kind::modelReply;
    if (auto c = decodeAlone(report[frame::kModelByteOffset])) {
        decision.model.assign(1, *c);
    }
    return decision;
}

ReplyDecision firmwareReply(const std::uint8_t* report, std::size_t length) {
    if (length <= frame::kFirmwareReplyEndOffset ||
        report[frame::kLenOffset] != frame::kFirmwareReplyLen ||
        report[frame::kFirmwareReplyEndOffset] != frame::kEndByte) {
        return {};
    }
    std::string text;
    for (std::size_t i = 0; i < frame::kVersionBytes; ++i) {
        text += decodeAlone(report[frame::kVersionOffset + i]).value_or('0');
    }
    ReplyDecision decision;
    decision.kind = ReplyDecision::Kind::firmwareReply;
    decision.firmware = formatVersion(text);
    return decision;
}

}  // namespace

std::string formatVersion(std::string_view text) {
    if (text.empty()) {
        return "0.0";
    }
    const std::size_t first = characterLength(text, 0);
    if (first >= text.size()) {
        return "0.0";
    }
    const std::size_t second = characterLength(text, first);
    std::string out;
    out.reserve(first + 1 + second);
    out.append(text.substr(0, first));
    out += '.';
    out.append(text.substr(first, second));
    return out;
}

ReplyDecision ReplyParser::parse(Util::ReadSta readSta, bool flag, const std::uint8_t* report,
                                 std::size_t length) {
    if (!flag || report == nullptr || length <= frame::kStartOffset ||
        report[frame::kStartOffset] != frame::kStartByte) {
        return {};
    }
    switch (readSta) {
        case Util::ReadSta::MODEL:
            return modelReply(report, length);
        case Util::ReadSta::FW:
            return firmwareReply(report, length);
        case Util::ReadSta::DONE:
            return {};
    }
    return {};
}

ReplyDecision ReplyParser::parse(Util::ReadSta readSta, bool flag, const Bytes& report) {
    return parse(readSta, flag, report.data(), report.size());
}

}  // namespace tarvo
