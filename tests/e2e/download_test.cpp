// A release's files from the firmware server: what a failed download says
// and how the next request goes on, and the cancel of a download from a
// stalled server.
#include <filesystem>
#include <iterator>

#include "e2e/rig.h"

namespace tarvo {
namespace {

using test::Rig;
using test::UpMode;
using Conn = Reachability::Connection;

// A fault of the server or the network and what the engine says about it.
struct DownloadCase {
    const char* name;
    sim::ServerFault fault;
    Conn networkAfterHistory;
    const char* note;
};

class DownloadFailure : public ::testing::TestWithParam<DownloadCase> {};

TEST_P(DownloadFailure, SaysTheCauseAndTheNextRequestTriesAgain) {
    const DownloadCase& c = GetParam();
    Rig rig;
    rig.publishDefault();
    ASSERT_TRUE(rig.startIdle());
    rig.sim.server().setFault(c.fault);
    rig.sim.reachability()->setConnectionNow(c.networkAfterHistory);
    rig.engine->updateToNewest();
    ASSERT_TRUE(rig.waitLog("download file failed."));
    ASSERT_TRUE(test::waitUntil([&] { return !rig.state().downloading; }));
    // Not a failed update: nothing is prepared, and the next request tries again.
    const UpdateSnapshot s = rig.state();
    EXPECT_EQ(std::tuple(s.downloadNote, s.sta, s.mode, s.selected.has_value(), s.filesHeld),
              std::tuple(c.note, test::UpSta::none, UpMode::none, false, false));
    // The cause is in the log too, for support.
    EXPECT_EQ(
        rig.log.withPrefix("could not download " + rig.sim.server().baseAddress() + "/").size(),
        1u);
    // Downloads share one worker: attempts do not leave threads behind.
    const auto threads = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                             std::filesystem::directory_iterator{});
    };
    const auto before = threads();
    for (int attempt = 2; attempt <= 6; ++attempt) {
        rig.engine->updateToNewest();
        ASSERT_TRUE(
            test::waitUntil([&] { return rig.log.count("download file failed.") == attempt; }));
    }
    EXPECT_EQ(threads(), before);

    // With the server back the next request prepares the release.
    rig.sim.server().setFault(sim::ServerFault::none);
    rig.sim.reachability()->setConnectionNow(Conn::wifi);
    ASSERT_TRUE(rig.prepareNewest());
    EXPECT_EQ(rig.state().downloadNote, "");
}

INSTANTIATE_TEST_SUITE_P(
    Messages, DownloadFailure,
    ::testing::Values(
        DownloadCase{"not_found", sim::ServerFault::status404, Conn::wifi,
                     "Could not download firmware 1.3: the server answered 404.\nThe release may "
                     "have been withdrawn. Press UPDATE TO NEWEST to try again later; if this "
                     "keeps happening, contact support."},
        DownloadCase{"server_unreachable", sim::ServerFault::refuse, Conn::wifi,
                     "Could not download firmware 1.3: the firmware server cannot be reached.\n"
                     "The network works, but the server does not answer. Press UPDATE TO NEWEST "
                     "to try again in a few minutes; if this keeps happening, contact support."},
        DownloadCase{"no_network", sim::ServerFault::refuse, Conn::unavailable,
                     "Could not download firmware 1.3: this computer has no network connection.\n"
                     "Connect it to the internet, then press UPDATE TO NEWEST again."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Download, FromAStalledServerIsCancelledAndTheStateIsAsBefore) {
    Rig rig;
    rig.publishDefault();
    ASSERT_TRUE(rig.startIdle());
    rig.sim.server().setFault(sim::ServerFault::stall);
    rig.engine->updateToNewest();
    const auto shown = [&] {
        const UpdateSnapshot s = rig.state();
        return std::tuple(s.downloading, s.downloadNote, s.mode);
    };
    EXPECT_EQ(shown(), std::tuple(true, "Downloading firmware 1.3\u2026", UpMode::online));

    rig.engine->cancelDownload();
    EXPECT_EQ(shown(), std::tuple(false, "", UpMode::none));
    EXPECT_FALSE(rig.state().selected.has_value());
    EXPECT_TRUE(rig.log.contains("download cancelled"));

    // The stalled read ends at once (the server would keep it for 30 s), so
    // the next request downloads straight away and prepares the release.
    rig.sim.server().setFault(sim::ServerFault::none);
    ASSERT_TRUE(rig.prepareNewest());
    EXPECT_EQ(rig.engine->snapshot().mode, UpMode::online);
    EXPECT_FALSE(rig.log.contains("download file failed."));
}

}  // namespace
}  // namespace tarvo
