// Arbitrary received reports through the reply parser, and the same bytes through
// formatVersion, hexDump and the data frame builder. The first input byte picks
// the exchange step (bits 0-1) and whether a reply is awaited (bit 2); the rest
// is the report, passed with its exact length so a read past its end is caught.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tcontroller/device/commands.h"
#include "tcontroller/device/frame.h"
#include "tcontroller/device/hex_dump.h"
#include "tcontroller/device/reply_parser.h"

namespace {

using tarvo::ReplyDecision;
using tarvo::Util;

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

char aloneOrZero(std::uint8_t byte) {
    return byte < 0x80 ? static_cast<char>(byte) : '0';
}

void checkParser(Util::ReadSta sta, bool flag, const std::uint8_t* r, std::size_t n) {
    const ReplyDecision d = tarvo::ReplyParser::parse(sta, flag, r, n);
    const bool start = flag && n > 0 && r[0] == 0xA9;
    const bool isModel =
        start && sta == Util::ReadSta::MODEL && n >= 8 && r[1] == 0x05 && r[7] == 0x5C;
    const bool isFirmware =
        start && sta == Util::ReadSta::FW && n >= 10 && r[1] == 0x07 && r[9] == 0x5C;
    if (isModel) {
        check(d.kind == ReplyDecision::Kind::modelReply && d.firmware.empty());
        check(r[5] >= 0x80 ? d.model.empty() : d.model == std::string(1, static_cast<char>(r[5])));
    } else if (isFirmware) {
        const std::string expected{aloneOrZero(r[5]), '.', aloneOrZero(r[6])};
        check(d.kind == ReplyDecision::Kind::firmwareReply && d.model.empty() &&
              d.firmware == expected);
    } else {
        check(d.kind == ReplyDecision::Kind::ignore && d.model.empty() && d.firmware.empty());
    }
}

void checkFormatVersion(std::string_view text) {
    const std::string v = tarvo::formatVersion(text);
    if (v == "0.0") {
        return;
    }
    // Otherwise: one character (1..4 bytes), a point, one character; the two
    // characters are the start of the input in order.
    const std::size_t point = v.find('.', 1);
    check(point != std::string::npos && point <= 4 && v.size() - point - 1 >= 1 &&
          v.size() - point - 1 <= 4);
    const std::string joined = v.substr(0, point) + v.substr(point + 1);
    check(text.substr(0, joined.size()) == joined);
    bool ascii = true;
    for (std::size_t i = 0; i < text.size() && i < 2; ++i) {
        ascii = ascii && static_cast<unsigned char>(text[i]) < 0x80;
    }
    if (ascii) {
        check(v.size() == 3 && v[0] == text[0] && v[2] == text[1]);
    }
}

void checkHexDump(const std::uint8_t* data, std::size_t n) {
    const std::string line = tarvo::hexDump(data, n);
    check(line.size() == 4 + 3 * n && line.compare(0, 4, "    ") == 0);
    for (std::size_t i = 0; i < n; ++i) {
        const std::string cell = line.substr(4 + 3 * i, 3);
        check(cell[2] == ' ' && std::strtoul(cell.substr(0, 2).c_str(), nullptr, 16) == data[i]);
        check(!std::islower(static_cast<unsigned char>(cell[0])) &&
              !std::islower(static_cast<unsigned char>(cell[1])));
    }
}

void checkDataFrame(const std::uint8_t* data, std::size_t n) {
    const auto f = tarvo::Commands::imageDataFrame(n == 0 ? nullptr : data, n);
    if (n > tarvo::frame::kMaxChunk) {
        check(!f);
        return;
    }
    check(f && f->size() == n + 10 && (*f)[0] == 0xA9 && (*f)[1] == n + 6 && (*f)[5] == (n >> 8) &&
          (*f)[6] == (n & 0xFF) && (*f)[n + 8] == 0x5C && (*f)[n + 9] == 0xFF);
    unsigned sum = 0;
    for (std::size_t i = 1; i <= n + 7; ++i) {
        sum += (*f)[i];
    }
    check(sum % 256 == 0);
    for (std::size_t i = 0; i < n; ++i) {
        check((*f)[7 + i] == data[i]);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    constexpr Util::ReadSta kStates[] = {Util::ReadSta::MODEL, Util::ReadSta::FW,
                                         Util::ReadSta::DONE, Util::ReadSta::DONE};
    const Util::ReadSta sta = kStates[data[0] & 0x03];
    const bool flag = (data[0] & 0x04) != 0;
    const std::uint8_t* report = data + 1;
    const std::size_t length = size - 1;

    checkParser(sta, flag, report, length);
    checkFormatVersion(std::string_view(reinterpret_cast<const char*>(report), length));
    checkHexDump(report, length);
    checkDataFrame(report, length);
    return 0;
}
