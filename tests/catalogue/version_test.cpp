#include "tcontroller/catalogue/version.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace tarvo {
namespace {

TEST(VersionKey, WorkedAndEdgeCases) {
    // clang-format off
    const std::pair<std::string, std::int64_t> cases[] = {
        {"1.2", 10200}, {"1.10", 11000}, {"1.9", 10900}, {"1.2.0", 10200}, {"1.2.3", 10203},
        {"1.2.3.4", 10203}, {"000", 0}, {"", 0}, {".", 0}, {"1..2", 10200}, {".1.2.", 10200},
        {"1.100", 20000}, {"2.0", 20000}, {"1a.2", 200}, {"1.-1", 9900}, {"1.02", 10200},
        {"+1.2", 10200}, {"-1.2", -9800},
        // Signs: one only, and never alone.
        {"++1.2", 200}, {"+-1.2", 200}, {"+.2", 200}, {"1+.2", 200},
        // Nothing is trimmed: whitespace makes a piece a non-integer.
        {" 1.2", 200}, {"1.2\n", 10000}, {"1 .2", 200},
        {"\xEF\xBC\x91.2", 200},  // full-width digit one
        // Leading zeros beyond 19 digits still read as small numbers.
        {"0000000000000000000000001.2", 10200},
        // Pieces outside the signed 64-bit range are not integers.
        {"1.9223372036854775808", 10000}, {"1.-9223372036854775809", 10000},
        {"0.0.9223372036854775807", 9223372036854775807}, {"0.0.-9223372036854775808", INT64_MIN},
        // A term that would leave the range counts as 0 (see versionKey).
        {"999999999999999.1", 100}, {"9223372036854775807", 0}, {"9223372036854775807.5", 500},
        {"-9223372036854775808", 0}, {"-9223372036854775808.-3.-4", -304},
        {"1.99999999999999999", 10000}, {"922337203685477", 9223372036854770000},
        {"922337203685477.5807", 9223372036854770000},    // + 580700 overflows
        {"922337203685477.0.5807", 9223372036854775807},  // exactly the maximum
        // A first term beyond the range is kept when the whole key fits.
        {"922337203685478.-1000", 9223372036854680000},
    };
    // clang-format on
    for (const auto& [version, key] : cases) {
        EXPECT_EQ(versionKey(version), key) << "version: " << version;
    }
}

TEST(IsNewer, ComparesTheKeysStrictly) {
    const struct {
        std::string a, b;
        bool aNewer;
    } cases[] = {
        {"1.10", "1.9", true},
        {"1.9", "1.10", false},
        {"1.2", "1.2.0", false},
        {"1.2.0", "1.2", false},
        {"2.0", "1.100", false},
        {"1.100", "2.0", false},
        {"1.2", "", true},
        {"1.3", "\n1.4", true},
        {"1.2.1", "1.2", true},
        {"0.0.1", "-1", true},
        {"999999999999999.1", "0.1", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isNewer(c.a, c.b), c.aNewer) << '"' << c.a << "\" vs \"" << c.b << '"';
    }
}

}  // namespace
}  // namespace tarvo
