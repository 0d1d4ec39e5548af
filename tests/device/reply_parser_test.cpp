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
        {"\xC3\xA9\x37", "\xC3\xA9.7"},  // a whole UTF-8 sequence first
        {"\xFF\xFE", "\xFF.\xFE"},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(formatVersion(in), out) << in;
    }
}

// What each report is taken for in each step; the bytes that are not a
// character on their own read as nothing in a model and as '0' in a version.
TEST(ReplyParser, RepliesOnlyInTheirOwnStep) {
    struct Case {
        const char* why;
        Sta sta;
        bool flag;
        Bytes report;
        Kind kind;
        std::string model, firmware;
    };
    const Bytes model = modelReport('T');
    const Bytes fw = firmwareReport('1', '0', '5');
    const Case cases[] = {
        {"model", Sta::MODEL, true, model, Kind::modelReply, "T", ""},
        {"model 80", Sta::MODEL, true, modelReport(0x80), Kind::modelReply, "", ""},
        {"fw", Sta::FW, true, fw, Kind::firmwareReply, "", "1.0"},
        {"fw FF", Sta::FW, true, firmwareReport('2', 0xFF, '3'), Kind::firmwareReply, "", "2.0"},
        {"fw 80", Sta::FW, true, firmwareReport(0x80, '9', '9'), Kind::firmwareReply, "", "0.9"},
        {"flag false, model", Sta::MODEL, false, model, Kind::ignore, "", ""},
        {"flag false, fw", Sta::FW, false, fw, Kind::ignore, "", ""},
        {"start byte", Sta::MODEL, true, with(model, 0, 0xA8), Kind::ignore, "", ""},
        {"model LEN", Sta::MODEL, true, with(model, 1, 0x04), Kind::ignore, "", ""},
        {"fw reply in MODEL", Sta::MODEL, true, fw, Kind::ignore, "", ""},
        {"model reply in FW", Sta::FW, true, model, Kind::ignore, "", ""},
        {"fw LEN", Sta::FW, true, with(fw, 1, 0x06), Kind::ignore, "", ""},
        {"model end byte", Sta::MODEL, true, with(model, 7, 0x5D), Kind::ignore, "", ""},
        {"fw end byte", Sta::FW, true, with(fw, 9, 0x00), Kind::ignore, "", ""},
        {"DONE, model", Sta::DONE, true, model, Kind::ignore, "", ""},
    };
    for (const auto& c : cases) {
        const auto d = ReplyParser::parse(c.sta, c.flag, c.report);
        EXPECT_EQ(d.kind, c.kind) << c.why;
        EXPECT_EQ(d.model, c.model) << c.why;
        EXPECT_EQ(d.firmware, c.firmware) << c.why;
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
