// The published releases as the engine learns them: the first reachability
// report and the history query against the loopback server.
#include "e2e/rig.h"

namespace tarvo {
namespace {

using test::Rig;
using Conn = Reachability::Connection;

// Waits until the first network report and what it brings are handled.
bool settled(Rig& rig) {
    return test::waitUntil(
        [&] { return rig.sim.reachability()->stopped() && !rig.engine->awaitingHistory(); });
}

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
    ASSERT_TRUE(settled(rig));
    EXPECT_TRUE(rig.state().hasNetwork);
    EXPECT_EQ(rig.state().releases, c.expected);
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
    {"empty_reply", "", {}, {}},
    {"forged_log_line_and_terminal_escape",
     "1.3:2020-01-15\nfw update successed\n\x1b[2J",
     {{"1.3", "2020-01-15\nfw update successed\n\x1b[2J"}},
     {"ver:1.3, FW:1.2"}},
};

INSTANTIATE_TEST_SUITE_P(Server, HistoryQuery, ::testing::ValuesIn(kHistory),
                         [](const auto& info) { return std::string(info.param.name); });

// A history query that fails leaves no release and no network, and a request
// for the newest release made while it ran goes on with the built-in one.
class HistoryFailure : public ::testing::TestWithParam<sim::ServerFault> {};

TEST_P(HistoryFailure, LeavesTheBuiltInRelease) {
    sim::SimulatedPlatform::Options options;
    options.readLimits.slowSeconds = 2;  // the stall fails within 2 s, not 30
    Rig rig(options);
    rig.publishDefault();
    rig.sim.server().setFault(GetParam());
    rig.start();
    ASSERT_TRUE(rig.engine->awaitingHistory());
    rig.engine->updateToNewest();
    EXPECT_TRUE(rig.state().checkingReleases);
    ASSERT_TRUE(settled(rig));
    ASSERT_TRUE(test::waitUntil([&] { return rig.state().mode != test::UpMode::none; }));
    EXPECT_EQ(rig.log.withPrefix("get online ver from amz fail: ").size(), 1u);
    EXPECT_FALSE(rig.state().hasNetwork);
    EXPECT_TRUE(rig.state().releases.empty());
    EXPECT_EQ(rig.state().mode, test::UpMode::bIn);
    EXPECT_TRUE(rig.log.withPrefix("ver:").empty());
}

INSTANTIATE_TEST_SUITE_P(Server, HistoryFailure,
                         ::testing::Values(sim::ServerFault::status404, sim::ServerFault::truncate,
                                           sim::ServerFault::stall));

// Cellular counts as a network; without one the server is never asked.
TEST(Reachability, CellularCountsNoNetworkNeverAsks) {
    for (const Conn network : {Conn::cellular, Conn::unavailable}) {
        sim::SimulatedPlatform::Options options;
        options.network = network;
        Rig rig(options);
        rig.publishDefault();
        rig.start();
        ASSERT_TRUE(settled(rig));
        const bool reachable = network == Conn::cellular;
        EXPECT_EQ(rig.state().hasNetwork, reachable);
        EXPECT_EQ(rig.state().releases.size(), reachable ? 2u : 0u);
        EXPECT_EQ(rig.log.contains("Network not reachable"), !reachable);
        EXPECT_EQ(rig.sim.server().requestCount(), reachable ? 1u : 0u);
    }
}

}  // namespace
}  // namespace tarvo
