#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>

#include "tcontroller/catalogue/version.h"

namespace tarvo {
namespace {

struct KeyCase {
    std::string version;
    std::int64_t key;
};

void PrintTo(const KeyCase& c, std::ostream* os) {
    *os << '"' << c.version << '"';
}

class VersionKeyTest : public ::testing::TestWithParam<KeyCase> {};

TEST_P(VersionKeyTest, Key) {
    EXPECT_EQ(versionKey(GetParam().version), GetParam().key) << "version: " << GetParam().version;
}

INSTANTIATE_TEST_SUITE_P(
    WorkedAndEdge, VersionKeyTest,
    ::testing::Values(
        KeyCase{"1.2", 10200}, KeyCase{"1.10", 11000}, KeyCase{"1.9", 10900},
        KeyCase{"1.2.0", 10200}, KeyCase{"1.2.3", 10203}, KeyCase{"1.2.3.4", 10203},
        KeyCase{"000", 0}, KeyCase{"", 0}, KeyCase{".", 0}, KeyCase{"...", 0},
        KeyCase{"1..2", 10200}, KeyCase{".1.2.", 10200}, KeyCase{"1.100", 20000},
        KeyCase{"2.0", 20000}, KeyCase{"1a.2", 200}, KeyCase{"1.-1", 9900}, KeyCase{"1.02", 10200},
        KeyCase{"+1.2", 10200}, KeyCase{"-1.2", -9800},
        // Signs: one only, and never alone.
        KeyCase{"++1.2", 200}, KeyCase{"+-1.2", 200}, KeyCase{"+.2", 200}, KeyCase{"-.2", 200},
        KeyCase{"1+.2", 200},
        // Nothing is trimmed: whitespace makes a piece a non-integer.
        KeyCase{" 1.2", 200}, KeyCase{"\n1.2", 200}, KeyCase{"1.2\n", 10000}, KeyCase{"1 .2", 200},
        KeyCase{"\xEF\xBC\x91.2", 200},  // full-width digit one
        // Leading zeros beyond 19 digits still read as small numbers.
        KeyCase{"0000000000000000000000001.2", 10200},
        // Pieces outside the signed 64-bit range are not integers.
        KeyCase{"1.9223372036854775808", 10000}, KeyCase{"1.-9223372036854775809", 10000},
        KeyCase{"0.0.9223372036854775807", 9223372036854775807},
        KeyCase{"0.0.-9223372036854775808", INT64_MIN},
        // A term that would leave the range counts as 0 (see versionKey).
        KeyCase{"999999999999999.1", 100}, KeyCase{"9223372036854775807", 0},
        KeyCase{"9223372036854775807.5", 500}, KeyCase{"-9223372036854775808", 0},
        KeyCase{"-9223372036854775808.-3.-4", -304}, KeyCase{"1.99999999999999999", 10000},
        KeyCase{"922337203685477", 9223372036854770000},
        KeyCase{"922337203685477.5807", 9223372036854770000},    // + 580700 overflows
        KeyCase{"922337203685477.0.5807", 9223372036854775807},  // exactly the maximum
        // A first term beyond the range is kept when the whole key fits.
        KeyCase{"922337203685478.-1000", 9223372036854680000}));

struct OrderCase {
    std::string a;
    std::string b;
    bool aNewer;
};

void PrintTo(const OrderCase& c, std::ostream* os) {
    *os << '"' << c.a << "\" vs \"" << c.b << '"';
}

class IsNewerTest : public ::testing::TestWithParam<OrderCase> {};

TEST_P(IsNewerTest, Order) {
    const OrderCase& c = GetParam();
    EXPECT_EQ(isNewer(c.a, c.b), c.aNewer) << '"' << c.a << "\" vs \"" << c.b << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, IsNewerTest,
    ::testing::Values(OrderCase{"1.10", "1.9", true}, OrderCase{"1.9", "1.10", false},
                      OrderCase{"1.2", "1.2.0", false}, OrderCase{"1.2.0", "1.2", false},
                      OrderCase{"1.2", "1.2", false}, OrderCase{"2.0", "1.100", false},
                      OrderCase{"1.100", "2.0", false}, OrderCase{"1.2", "000", true},
                      OrderCase{"1.2", "", true}, OrderCase{"", "1.2", false},
                      OrderCase{"1.3", "\n1.4", true}, OrderCase{"1.02", "1.2", false},
                      OrderCase{"1.2.1", "1.2", true}, OrderCase{"0.0.1", "-1", true},
                      OrderCase{"999999999999999.1", "0.1", false}));

}  // namespace
}  // namespace tarvo
