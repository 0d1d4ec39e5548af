// The published releases as the engine learns them: the first reachability
// report and the history query against the loopback server.
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

TEST_P(HistoryQuery, KeepsTheFirstTwoItemsNewestFirst) {
    const HistoryCase& c = GetParam();
    Rig rig;
    rig.sim.server().setHistoryBody(c.body);
    rig.start();
    ASSERT_TRUE(rig.waitSettled());
    EXPECT_TRUE(rig.state().hasNetwork);
    EXPECT_EQ(rig.state().releases, c.expected);
    // "Reachable", the reply on one line, escaped (so the server's text can
    // neither add a line of its own nor reach the terminal: LogEscape in
    // base/log_test.cpp), then one line per taken item.
    const auto lines = rig.log.lines();
    const int reachable = rig.log.indexOf("Reachable");
    ASSERT_GE(reachable, 0);
    ASSERT_GT(static_cast<int>(lines.size()), reachable + 1);
    EXPECT_EQ(lines[reachable + 1], escapeForLog(c.body));
    EXPECT_EQ(rig.log.withPrefix("ver:"), c.verLines);
}

// The items are logged in the reply's order, and kept newest first.
const HistoryCase kHistory[] = {
    {"quoted_three_items_oldest_first",
     "\"1.2:2019-10-22\",\"1.3:2020-01-15\",\"1.1:2019-06-30\"",
     {{"1.3", "2020-01-15"}, {"1.2", "2019-10-22"}},
     {"ver:1.2, FW:1.2", "ver:1.3, FW:1.2"}},
    {"empty_reply", "", {}, {}},
    {"forged_log_line_and_terminal_escape",
     "1.3:2020-01-15\nfw update successed\n\x1b[2J",
     {{"1.3", "2020-01-15\nfw update successed\n\x1b[2J"}},
     {"ver:1.3, FW:1.2"}},
};

INSTANTIATE_TEST_SUITE_P(Server, HistoryQuery, ::testing::ValuesIn(kHistory),
                         [](const auto& info) { return std::string(info.param.name); });

// A history query that fails (the ways a read fails: server_reads_test.cpp)
// leaves no release and no network, and a request for the newest release made
// while it ran goes on with the built-in one.
TEST(Server, AFailedHistoryQueryLeavesTheBuiltInRelease) {
    Rig rig;
    rig.publishDefault();
    rig.sim.server().setFault(sim::ServerFault::status404);
    rig.start();
    ASSERT_TRUE(rig.engine->awaitingHistory());
    rig.engine->updateToNewest();
    EXPECT_TRUE(rig.state().checkingReleases);
    ASSERT_TRUE(rig.waitSettled());
    ASSERT_TRUE(test::waitUntil([&] { return rig.state().mode != test::UpMode::none; }));
    EXPECT_EQ(rig.log.withPrefix("get online ver from amz fail: ").size(), 1u);
    EXPECT_FALSE(rig.state().hasNetwork);
    EXPECT_TRUE(rig.state().releases.empty());
    EXPECT_EQ(rig.state().mode, test::UpMode::bIn);
}

// A cellular connection counts as a network: the server is asked. (Without
// one it never is: the offline runs of update_test.cpp.)
TEST(Reachability, CellularCountsAsANetwork) {
    sim::SimulatedPlatform::Options options;
    options.network = Conn::cellular;
    Rig rig(options);
    rig.publishDefault();
    rig.start();
    ASSERT_TRUE(rig.waitSettled());
    EXPECT_TRUE(rig.state().hasNetwork);
    EXPECT_EQ(rig.state().releases.size(), 2u);
    EXPECT_EQ(rig.sim.server().requestCount(), 1u);
}

}  // namespace
}  // namespace tarvo
