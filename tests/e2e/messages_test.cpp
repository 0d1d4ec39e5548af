// What the window tells the user beyond the bar, through the simulator's
// faults: the line under the bar in every stage, the failure screen that names
// the stage that failed, a failed download's cause, and the cancel of a
// download from a stalled server.
#include <QClipboard>
#include <QGuiApplication>
#include <filesystem>
#include <iterator>

#include "e2e/rig.h"
#include "tcontroller/update/update_progress.h"

namespace tarvo {
namespace {

using test::Rig;
using UpSta = Util::UpSta;
using UpMode = Util::UpMode;
using Conn = Reachability::Connection;

// The window's lines under the bar, in the order they were shown.
struct ProgressLines {
    explicit ProgressLines(ViewController* vc) {
        QObject::connect(vc, &ViewController::progressLineShown, vc,
                         [this](const QString& text) { shown.push_back(text.toStdString()); });
    }
    int indexOf(const std::string& text, int from = 0) const {
        for (int i = from; i < static_cast<int>(shown.size()); ++i) {
            if (shown[i] == text) {
                return i;
            }
        }
        return -1;
    }
    std::vector<std::string> shown;
};

// Up to the confirmation of the newest release, 1.3 from the server.
void confirmNewest(Rig& rig) {
    rig.publishDefault();
    rig.sim.controller().plug();
    rig.start();
    ASSERT_TRUE(rig.waitIdle());
    ASSERT_TRUE(test::waitUntil([&] { return rig.vc->hasNetwork.load(); }));
    rig.sim.instantClock()->holdSleepsOfAtLeast(5.0);  // the watchdog waits for us
    rig.vc->leftClick();
    ASSERT_TRUE(test::waitUntil([&] {
        return rig.vc->imageData.get() != nullptr && rig.vc->leftBut->isEnabled() &&
               rig.message().rfind("Do you want to update", 0) == 0;
    }));
}

TEST(ProgressLine, SaysTheStageAndTheTimeLeftThroughAWholeUpdate) {
    Rig rig;
    ASSERT_NO_FATAL_FAILURE(confirmNewest(rig));
    ProgressLines lines(rig.vc.get());
    rig.vc->leftClick();
    ASSERT_TRUE(rig.waitLog("fw update successed"));
    ASSERT_TRUE(test::waitUntil([&] { return rig.clicker.clicked() == 1; }));

    // The erase wait counts down every second, read from the clock.
    int at = 0;
    for (int left = 35; left >= 1; --left) {
        const std::string text = "Erasing \u2013 " + std::to_string(left) + " s left";
        const int found = lines.indexOf(text, at);
        ASSERT_GE(found, 0) << "missing or out of order: " << text;
        at = found + 1;
    }
    // 307,200 bytes are 5,688 data frames: one pause of a second before the
    // first, then a report a millisecond; at 43% 3,244 reports are left.
    for (const char* text :
         {"Sending firmware \u2013 0%, about 7 s left",
          "Sending firmware \u2013 43%, about 4 s left",
          "Sending firmware \u2013 99%, about 1 s left",
          "Waiting for the controller's drive CRP DISABLE\u2026", "Writing firmware\u2026"}) {
        const int found = lines.indexOf(text, at);
        ASSERT_GE(found, 0) << "missing or out of order: " << text;
        at = found + 1;
    }
    // The bar and its line are shown while the update runs, not after it.
    EXPECT_TRUE(rig.vc->stageLabel->isHidden());
}

TEST(ProgressLine, CountsThePausesBeforeEveryTenThousandthFrame) {
    // 20,001 data frames: pauses before frames 0, 10,000 and 20,000.
    EXPECT_EQ(transferProgress(0, 20001).secondsLeft, 24);      // 20,003 reports and 3 pauses
    EXPECT_EQ(transferProgress(10000, 20001).secondsLeft, 13);  // the pause at 10,000 is ahead
    EXPECT_EQ(transferProgress(10001, 20001).secondsLeft, 12);
    EXPECT_EQ(transferProgress(20001, 20001).secondsLeft, 1);
    EXPECT_EQ(transferProgress(10001, 20001).percent, 50);
    EXPECT_EQ(eraseProgress(0).secondsLeft, 35);
    EXPECT_EQ(eraseProgress(34.5).secondsLeft, 1);
    EXPECT_EQ(eraseProgress(40).secondsLeft, 0);
}

// A fault of the controller and the stage the failure screen names.
struct StageCase {
    const char* name;
    sim::DeviceFault fault;
    const char* stage;
    const char* lastLine;  // a log line the copied details carry
};

class FailureScreen : public ::testing::TestWithParam<StageCase> {};

TEST_P(FailureScreen, NamesTheStageHasOneOkAndCopiesTheDetails) {
    const StageCase& c = GetParam();
    Rig rig;
    ASSERT_NO_FATAL_FAILURE(confirmNewest(rig));
    rig.sim.controller().setFaults(sim::VirtualController::Faults::of(c.fault));
    // The controller leaves the bus after taking the erase command. The erase
    // wait is held until the tool has seen it go, as the real 35 s would be:
    // on the instant clock the wait could otherwise end first.
    const bool inErase = c.fault == sim::DeviceFault::unplugInErase;
    if (inErase) {
        rig.sim.instantClock()->holdSleepsOfAtLeast(1.0);
    }
    rig.vc->leftClick();
    if (inErase) {
        ASSERT_TRUE(rig.waitLog("hid disconnect"));
        rig.sim.instantClock()->release();
    }
    ASSERT_TRUE(rig.waitStatus(UpSta::failed));
    ASSERT_TRUE(test::waitUntil([&] { return !rig.vc->FailedOKBut->isHidden(); }));
    test::pump(100);

    const QString message = rig.vc->msgLabel->text();
    EXPECT_TRUE(message.contains(QStringLiteral("Update Fail!"))) << message.toStdString();
    EXPECT_TRUE(message.contains(QString::fromUtf8(c.stage))) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("press Copy details"))) << message.toStdString();
    // One acknowledgement: the image buttons show their offer faces and wait.
    EXPECT_EQ(rig.vc->leftBut->imageName(), "button_onlineUpdate");
    EXPECT_FALSE(rig.vc->leftBut->isEnabled());
    EXPECT_FALSE(rig.vc->rightBut->isEnabled());
    ASSERT_FALSE(rig.vc->copyDetailsBut->isHidden());

    QGuiApplication::clipboard()->clear();
    const std::vector<std::string> logged = rig.log.lines();
    rig.vc->copyDetailsBut->click();
    const std::string details = QGuiApplication::clipboard()->text().toStdString();
    EXPECT_NE(details.find("Tarvo Remote Firmware Update " TARVO_VERSION "\n"), std::string::npos)
        << details;
    EXPECT_NE(details.find("Controller: model T, firmware 1.1"), std::string::npos) << details;
    EXPECT_NE(details.find("Release: 1.3\n"), std::string::npos) << details;
    EXPECT_NE(details.find("\n" + std::string(c.lastLine) + "\n"), std::string::npos) << details;
    // The log's latest lines, up to 200, the newest last; the thousands of
    // per-frame lines of a transfer take one line, so what came before them
    // is still there.
    ASSERT_FALSE(logged.empty());
    EXPECT_EQ(details.substr(details.size() - logged.back().size() - 1), logged.back() + "\n");
    const std::size_t heading = details.find("\nLast ");
    ASSERT_NE(heading, std::string::npos) << details;
    const std::size_t kept = std::stoul(details.substr(heading + 6));
    EXPECT_LE(kept, 200u);
    EXPECT_EQ(std::count(details.begin() + static_cast<long>(heading) + 1, details.end(), '\n'),
              static_cast<long>(kept) + 1);

    // OK acknowledges it and the window goes back to its offer.
    rig.vc->FailedOKBut->click();
    EXPECT_TRUE(rig.vc->FailedOKBut->isHidden());
    EXPECT_TRUE(rig.vc->copyDetailsBut->isHidden());
}

INSTANTIATE_TEST_SUITE_P(
    Messages, FailureScreen,
    ::testing::Values(
        StageCase{"erase", sim::DeviceFault::unplugInErase, "Step that failed: erase.",
                  "erasing data..."},
        StageCase{"transfer", sim::DeviceFault::unplugInData, "Step that failed: transfer.",
                  "begin image update"},
        StageCase{"verification", sim::DeviceFault::keepOldVersion,
                  "Step that failed: verification.<br>The controller came back with firmware 1.1",
                  "update not verified: controller reports 1.1, expected 1.3"}),
    [](const auto& info) { return std::string(info.param.name); });

// A fault of the server or the network and what the window says about it.
struct DownloadCase {
    const char* name;
    sim::ServerFault fault;
    Conn networkAfterHistory;
    const char* message;
};

class DownloadFailure : public ::testing::TestWithParam<DownloadCase> {};

TEST_P(DownloadFailure, SaysTheCauseAndTheNextStep) {
    const DownloadCase& c = GetParam();
    Rig rig;
    rig.publishDefault();
    rig.sim.controller().plug();
    rig.start();
    ASSERT_TRUE(rig.waitIdle());
    ASSERT_TRUE(test::waitUntil([&] { return rig.vc->hasNetwork.load(); }));
    rig.sim.server().setFault(c.fault);
    rig.sim.reachability()->setConnectionNow(c.networkAfterHistory);
    rig.vc->leftClick();
    ASSERT_TRUE(rig.waitLog("download file failed."));
    ASSERT_TRUE(test::waitUntil([&] { return rig.vc->leftBut->isEnabled(); }));
    EXPECT_EQ(rig.message(), c.message);
    // Not a failed update: the offer's buttons try again, details can be copied.
    EXPECT_TRUE(rig.vc->FailedOKBut->isHidden());
    EXPECT_FALSE(rig.vc->copyDetailsBut->isHidden());
    EXPECT_TRUE(rig.vc->cancelBut->isHidden());
    EXPECT_TRUE(rig.vc->progress->isHidden());
    EXPECT_EQ(rig.vc->leftBut->imageName(), "button_onlineUpdate");
    EXPECT_EQ(rig.vc->updateMode.load(), UpMode::none);
    // The cause is in the log too, for support.
    EXPECT_EQ(
        rig.log.withPrefix("could not download " + rig.sim.server().baseAddress() + "/").size(),
        1u);
    EXPECT_FALSE(rig.vc->selectedFW.get().has_value());
    EXPECT_FALSE(rig.vc->FWData.get().has_value());
    // Downloads share one worker: attempts do not leave threads behind.
    const auto threads = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                             std::filesystem::directory_iterator{});
    };
    const auto before = threads();
    for (int attempt = 2; attempt <= 6; ++attempt) {
        rig.vc->leftClick();
        ASSERT_TRUE(
            test::waitUntil([&] { return rig.log.count("download file failed.") == attempt; }));
    }
    EXPECT_EQ(threads(), before);

    // The next press tries again; with the server back it goes on to the confirmation.
    rig.sim.server().setFault(sim::ServerFault::none);
    rig.sim.reachability()->setConnectionNow(Conn::wifi);
    rig.vc->leftClick();
    ASSERT_TRUE(test::waitUntil([&] {
        return rig.message().rfind("Do you want to update", 0) == 0 && rig.vc->leftBut->isEnabled();
    }));
    EXPECT_TRUE(rig.vc->copyDetailsBut->isHidden());
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

TEST(Download, FromAStalledServerIsCancelledAndTheWindowIsAsBefore) {
    Rig rig;
    rig.publishDefault();
    rig.sim.controller().plug();
    rig.start();
    ASSERT_TRUE(rig.waitIdle());
    ASSERT_TRUE(test::waitUntil([&] { return rig.vc->hasNetwork.load(); }));
    test::pump(100);
    const std::string offer = rig.message();
    rig.sim.server().setFault(sim::ServerFault::stall);
    rig.vc->leftClick();
    // While the files are on their way the window says so and offers Cancel only.
    ASSERT_TRUE(test::waitUntil([&] { return !rig.vc->cancelBut->isHidden(); }));
    EXPECT_EQ(rig.message(), "Downloading firmware 1.3\u2026");
    EXPECT_FALSE(rig.vc->progress->isHidden());
    EXPECT_FALSE(rig.vc->leftBut->isEnabled());
    EXPECT_FALSE(rig.vc->rightBut->isEnabled());
    ASSERT_TRUE(
        test::waitUntil([&] { return rig.vc->stageLabel->text().startsWith("Downloading"); }));

    rig.vc->cancelBut->click();
    EXPECT_EQ(rig.message(), offer);
    EXPECT_TRUE(rig.vc->leftBut->isEnabled());
    EXPECT_TRUE(rig.vc->rightBut->isEnabled());
    EXPECT_TRUE(rig.vc->cancelBut->isHidden());
    EXPECT_TRUE(rig.vc->progress->isHidden());
    EXPECT_EQ(rig.vc->updateMode.load(), UpMode::none);
    EXPECT_TRUE(rig.log.contains("download cancelled"));

    // The stalled read ends at once (the server would keep it for 30 s), so
    // the next press downloads straight away and goes on to the confirmation.
    rig.sim.server().setFault(sim::ServerFault::none);
    rig.vc->leftClick();
    ASSERT_TRUE(test::waitUntil([&] {
        return rig.message().rfind("Do you want to update", 0) == 0 && rig.vc->leftBut->isEnabled();
    }));
    EXPECT_EQ(rig.vc->FWData.get(), rig.sim.server().firmwareFile("1.3"));
    EXPECT_FALSE(rig.log.contains("download file failed."));
}

}  // namespace
}  // namespace tarvo
