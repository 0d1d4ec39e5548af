#include <gtest/gtest.h>

#include "tcontroller/device/reply_parser.h"

namespace tarvo {
namespace {

using Kind = ReplyDecision::Kind;
using Sta = Util::ReadSta;

// Full-size reports as the monitor delivers them, with junk in the bytes the
// parser must not look at (checksum included).
Bytes modelReport(std::uint8_t model) {
    Bytes r(64, 0xEE);
    r[0] = 0xA9, r[1] = 0x05, r[5] = model, r[7] = 0x5C;
    return r;
}
Bytes firmwareReport(std::uint8_t a, std::uint8_t b, std::uint8_t c) {
    Bytes r(64, 0xEE);
    r[0] = 0xA9, r[1] = 0x07, r[5] = a, r[6] = b, r[7] = c, r[9] = 0x5C;
    return r;
}
Bytes with(Bytes r, std::size_t offset, std::uint8_t value) {
    r[offset] = value;
    return r;
}

TEST(FormatVersion, FirstTwoCharactersOrZero) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "0.0"},
        {"1", "0.0"},
        {"10", "1.0"},
        {"105", "1.0"},
        {"\xC3\xA9\x37", "\xC3\xA9.7"},
        {"\xFF\xFE", "\xFF.\xFE"},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(formatVersion(in), out) << in;
    }
}

TEST(ReplyParser, AcceptedReplies) {
    struct Case {
        Sta sta;
        Bytes report;
        Kind kind;
        std::string model, firmware;
    };
    const Case cases[] = {
        {Sta::MODEL, modelReport('T'), Kind::modelReply, "T", ""},
        {Sta::MODEL, modelReport(0x80), Kind::modelReply, "", ""},
        {Sta::FW, firmwareReport(0x31, 0x30, 0x35), Kind::firmwareReply, "", "1.0"},
        {Sta::FW, firmwareReport(0x32, 0xFF, 0x33), Kind::firmwareReply, "", "2.0"},
        {Sta::FW, firmwareReport(0x80, 0x39, 0x39), Kind::firmwareReply, "", "0.9"},
    };
    for (const auto& c : cases) {
        const auto d = ReplyParser::parse(c.sta, true, c.report);
        EXPECT_EQ(d.kind, c.kind) << c.model << c.firmware;
        EXPECT_EQ(d.model, c.model);
        EXPECT_EQ(d.firmware, c.firmware);
    }
}

TEST(ReplyParser, IgnoredReports) {
    struct Case {
        const char* why;
        Sta sta;
        bool flag;
        Bytes report;
    };
    const Case cases[] = {
        {"flag false, model", Sta::MODEL, false, modelReport('T')},
        {"flag false, fw", Sta::FW, false, firmwareReport('1', '0', '5')},
        {"start byte", Sta::MODEL, true, with(modelReport('T'), 0, 0xA8)},
        {"model LEN", Sta::MODEL, true, with(modelReport('T'), 1, 0x04)},
        {"fw reply in MODEL", Sta::MODEL, true, firmwareReport('1', '0', '5')},
        {"model reply in FW", Sta::FW, true, modelReport('T')},
        {"fw LEN", Sta::FW, true, with(firmwareReport('1', '0', '5'), 1, 0x06)},
        {"model end byte", Sta::MODEL, true, with(modelReport('T'), 7, 0x5D)},
        {"fw end byte", Sta::FW, true, with(firmwareReport('1', '0', '5'), 9, 0x00)},
        {"DONE, model", Sta::DONE, true, modelReport('T')},
    };
    for (const auto& c : cases) {
        const auto d = ReplyParser::parse(c.sta, c.flag, c.report);
        EXPECT_EQ(d.kind, Kind::ignore) << c.why;
        EXPECT_TRUE(d.model.empty() && d.firmware.empty()) << c.why;
    }
}

// Reports cut short before the last byte read are ignored; each is copied into a
// buffer of exactly its length so that a read past the end trips the sanitizer.
TEST(ReplyParser, ShortReportsAreIgnoredNotOverread) {
    const Bytes model = modelReport('T');
    const Bytes fw = firmwareReport('1', '0', '5');
    for (std::size_t len = 0; len <= 10; ++len) {
        const Bytes m(model.begin(), model.begin() + len);
        const Bytes f(fw.begin(), fw.begin() + len);
        EXPECT_EQ(ReplyParser::parse(Sta::MODEL, true, m).kind,
                  len >= 8 ? Kind::modelReply : Kind::ignore)
            << len;
        EXPECT_EQ(ReplyParser::parse(Sta::FW, true, f).kind,
                  len >= 10 ? Kind::firmwareReply : Kind::ignore)
            << len;
    }
    EXPECT_EQ(ReplyParser::parse(Sta::MODEL, true, nullptr, 64).kind, Kind::ignore);
}

}  // namespace
}  // namespace tarvo
