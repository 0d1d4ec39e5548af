#include "tcontroller/catalogue/version.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace tarvo {
namespace {

// One row per rule of versionKey.
TEST(VersionKey, WorkedAndEdgeCases) {
    // clang-format off
    const std::pair<std::string, std::int64_t> cases[] = {
        {"1.10", 11000}, {"1.100", 20000}, {"1.02", 10200}, {"", 0},
        // Three pieces at most; empty pieces are skipped.
        {"1.2.3.4", 10203}, {".1..2.", 10200},
        // Signs: one only, and never alone; '-' negates.
        {"+1.2", 10200}, {"-1.2", -9800}, {"1.-1", 9900}, {"++1.2", 200}, {"+.2", 200},
        // A piece with anything but ASCII digits is 0; nothing is trimmed.
        {"1a.2", 200}, {" 1.2", 200}, {"1.2\n", 10000},
        {"\xEF\xBC\x91.2", 200},  // full-width digit one
        // Leading zeros beyond 19 digits still read as small numbers.
        {"0000000000000000000000001.2", 10200},
        // Pieces outside the signed 64-bit range are not integers; its ends are.
        {"1.9223372036854775808", 10000}, {"1.-9223372036854775809", 10000},
        {"0.0.9223372036854775807", 9223372036854775807}, {"0.0.-9223372036854775808", INT64_MIN},
        // A term that would leave the range counts as 0 (see versionKey).
        {"999999999999999.1", 100}, {"-9223372036854775808.-3.-4", -304},
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

// Newer means a strictly greater key: equal keys are the same version.
TEST(IsNewer, ComparesTheKeysStrictly) {
    EXPECT_TRUE(isNewer("1.10", "1.9"));
    EXPECT_FALSE(isNewer("1.9", "1.10"));
    EXPECT_FALSE(isNewer("1.2", "1.2.0"));
    EXPECT_FALSE(isNewer("1.2.0", "1.2"));
}

}  // namespace
}  // namespace tarvo
