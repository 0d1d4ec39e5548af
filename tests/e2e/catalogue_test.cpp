// The version history as the window sees it: the first reachability report and
// the history query against the loopback server.

#include "e2e/rig.h"

namespace tarvo {
namespace {

using test::Rig;
using Conn = Reachability::Connection;

struct HistoryCase {
    const char* name;
    std::string body;
    std::vector<Util::Histoty> expected;
    std::vector<std::string> verLines;
};

class HistoryQuery : public ::testing::TestWithParam<HistoryCase> {};

TEST_P(HistoryQuery, StoresTheFirstTwoItemsNewestFirst) {
    const HistoryCase& c = GetParam();
    Rig rig;
    rig.sim.server().setHistoryBody(c.body);
    rig.start();
    ASSERT_TRUE(test::waitUntil([&] { return rig.vc->hasNetwork.load(); }));
    EXPECT_EQ(rig.vc->onlineVers.get(), c.expected);
    EXPECT_TRUE(rig.sim.reachability()->stopped());
    // "Reachable", the reply on one line (escaped), then one line per taken item.
    const auto lines = rig.log.lines();
    const int reachable = rig.log.indexOf("Reachable");
    ASSERT_GE(reachable, 0);
    ASSERT_GT(static_cast<int>(lines.size()), reachable + 1);
    EXPECT_EQ(lines[reachable + 1], escapeForLog(c.body));
    EXPECT_EQ(rig.log.withPrefix("ver:"), c.verLines);
    // The server's text can neither add a line of its own nor reach the
    // terminal: no control character is logged.
    EXPECT_FALSE(rig.log.contains("fw update successed"));
    for (const std::string& line : lines) {
        EXPECT_TRUE(std::none_of(line.begin(), line.end(), [](char ch) {
            return static_cast<unsigned char>(ch) < 0x20;
        })) << line;
    }
}

const HistoryCase kHistory[] = {
    {"quoted_three_items",
     "\"1.3:2020-01-15\",\"1.2:2019-10-22\",\"1.1:2019-06-30\"",
     {{"1.3", "2020-01-15"}, {"1.2", "2019-10-22"}},
     {"ver:1.3, FW:1.2", "ver:1.2, FW:1.2"}},
    {"reverse_order",
     "1.2:2019-10-22,1.3:2020-01-15",
     {{"1.3", "2020-01-15"}, {"1.2", "2019-10-22"}},
     {"ver:1.2, FW:1.2", "ver:1.3, FW:1.2"}},
    {"equal_keys_keep_reply_order",
     "1.2:a,1.2.0:b",
     {{"1.2", "a"}, {"1.2.0", "b"}},
     {"ver:1.2, FW:1.2", "ver:1.2.0, FW:1.2"}},
    {"empty_pieces",
     "1.1:x,,,1.0:y,",
     {{"1.1", "x"}, {"1.0", "y"}},
     {"ver:1.1, FW:1.2", "ver:1.0, FW:1.2"}},
    {"empty_reply", "", {}, {}},
    {"line_feed_stays_in_the_date",
     "1.3:2020-01-15\n",
     {{"1.3", "2020-01-15\n"}},
     {"ver:1.3, FW:1.2"}},
    {"line_feeds_instead_of_commas",
     "1.3:2020-01-15\n1.2:2019-10-22",
     {{"1.3", "2020-01-15\n1.2"}},
     {"ver:1.3, FW:1.2"}},
    {"forged_log_line_and_terminal_escape",
     "1.3:2020-01-15\nfw update successed\n\x1b[2J",
     {{"1.3", "2020-01-15\nfw update successed\n\x1b[2J"}},
     {"ver:1.3, FW:1.2"}},
    {"malformed_first_item_skipped",
     "1.9,1.3:2020-01-15,1.1:x,1.0:y",
     {{"1.3", "2020-01-15"}, {"1.1", "x"}},
     {"ver:1.3, FW:1.2", "ver:1.1, FW:1.2"}},
};

INSTANTIATE_TEST_SUITE_P(Server, HistoryQuery, ::testing::ValuesIn(kHistory),
                         [](const auto& info) { return std::string(info.param.name); });

class HistoryFailure : public ::testing::TestWithParam<sim::ServerFault> {};

TEST_P(HistoryFailure, LeavesTheListSetsNoNetworkAndRefreshesOnce) {
    sim::SimulatedPlatform::Options options;
    options.readLimits.slowSeconds = 2;  // the stall fails within 2 s, not 30
    Rig rig(options);
    rig.publishDefault();
    rig.sim.server().setFault(GetParam());
    rig.start();
    int refreshes = 0;
    rig.vc->refreshObserver = [&] { ++refreshes; };
    rig.vc->hasNetwork = true;  // the failure must clear it
    ASSERT_TRUE(rig.waitLog("Reachable"));
    ASSERT_TRUE(test::waitUntil(
        [&] { return !rig.log.withPrefix("get online ver from amz fail: ").empty(); }));
    test::pump(50);
    EXPECT_FALSE(rig.vc->hasNetwork.load());
    EXPECT_TRUE(rig.vc->onlineVers.get().empty());
    EXPECT_EQ(refreshes, 1);
    EXPECT_TRUE(rig.log.withPrefix("ver:").empty());
}

INSTANTIATE_TEST_SUITE_P(Server, HistoryFailure,
                         ::testing::Values(sim::ServerFault::status404, sim::ServerFault::status500,
                                           sim::ServerFault::refuse, sim::ServerFault::truncate,
                                           sim::ServerFault::stall, sim::ServerFault::oversized));

TEST(Reachability, CellularCountsAsReachable) {
    sim::SimulatedPlatform::Options options;
    options.network = Conn::cellular;
    Rig rig(options);
    rig.publishDefault();
    rig.start();
    ASSERT_TRUE(test::waitUntil([&] { return rig.vc->onlineVers.get().size() == 2; }));
    EXPECT_TRUE(rig.vc->hasNetwork.load());
}

TEST(Reachability, NoNetworkNeverQueriesTheServer) {
    sim::SimulatedPlatform::Options options;
    options.network = Conn::unavailable;
    Rig rig(options);
    rig.start();
    ASSERT_TRUE(rig.waitLog("Network not reachable"));
    EXPECT_FALSE(rig.vc->hasNetwork.load());
    EXPECT_EQ(rig.sim.server().requestCount(), 0u);
}

}  // namespace
}  // namespace tarvo
