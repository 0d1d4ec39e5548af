// The update engine without a window does what the window makes it do: a
// whole update to the newest release driven through the engine's commands
// logs the same lines, in the same order, as the same update driven by
// pressing the window's buttons on an identical simulated platform.
#include <QTest>
#include <sstream>
#include <string_view>

#include "e2e/rig.h"
#include "support/window_parts.h"

namespace tarvo {
namespace {

using test::Rig;

// The log of a run with what legitimately differs between runs made equal:
// the time each report write took, the transfer's clock readings, and the
// private folder the bootloader volume is mounted in.
std::vector<std::string> comparable(const std::vector<std::string>& lines,
                                    const std::string& volume) {
    static constexpr std::string_view kWrite = "write spend: ";
    std::vector<std::string> out;
    for (std::string line : lines) {
        for (std::size_t at = line.find(volume); at != std::string::npos;
             at = line.find(volume, at)) {
            line.replace(at, volume.size(), "<volume>");
        }
        if (line.rfind(kWrite, 0) == 0) {
            // "write spend: 0.000123456 - return code: 0": the time goes.
            const std::size_t end = line.find(" - ", kWrite.size());
            line.replace(kWrite.size(), end - kWrite.size(), "#");
        } else if (std::istringstream words(line); line.ends_with(" seconds")) {
            // "t1 - t0 = span seconds": the clock readings go.
            std::string t1, minus, t0, equals, span, unit, more;
            if (words >> t1 >> minus >> t0 >> equals >> span >> unit && !(words >> more) &&
                minus == "-" && equals == "=") {
                line = "# - # = # seconds";
            }
        }
        out.push_back(line);
    }
    return out;
}

struct UpdateRun {
    std::vector<std::string> log;            // comparable()
    std::vector<std::string> progressLines;  // the lines under the bar during the update
};

// Each step waits for the one before to settle, so the lines logged by the
// monitor's, the network's and the transfer's threads come in one order.
void runNewestUpdate(bool throughWindow, UpdateRun* run) {
    Rig rig;
    rig.publishDefault();
    // The final step's write is logged well before the controller leaves the bus.
    rig.sim.controller().updateConfig(
        [](auto& config) { config.timings.leaveHid = std::chrono::milliseconds(100); });
    std::vector<std::string> lines;
    bool watched = false;  // the window is the active one: the user watches it
    if (throughWindow) {
        rig.startWindow();
        rig.window->show();
        rig.window->activateWindow();
        watched = QTest::qWaitForWindowActive(rig.window.get());
        QObject::connect(rig.window.get(), &ViewController::progressLineShown, rig.engine,
                         [&](const QString& text) { lines.push_back(text.toStdString()); });
    } else {
        rig.start();
        QObject::connect(rig.engine, &UpdateEngine::progressLineChanged, rig.engine,
                         [&](const ProgressLine& line) {
                             lines.push_back(UpdateEngine::progressText(line).toStdString());
                         });
    }
    ASSERT_TRUE(rig.waitSettled());
    ASSERT_EQ(rig.state().releases.size(), 2u);
    rig.sim.controller().plug();
    ASSERT_TRUE(rig.waitIdle());
    rig.sim.instantClock()->holdSleepsOfAtLeast(5.0);  // the watchdog waits for the test
    const auto press = [&] {
        if (throughWindow) {
            ImageButton* left = test::faceButton(*rig.window, "leftBut");
            ASSERT_TRUE(test::waitUntil([&] { return left->isEnabled(); }));
            left->click();
        } else if (rig.state().mode == test::UpMode::none) {
            rig.engine->updateToNewest();
        } else {
            rig.engine->confirm();
        }
    };
    ASSERT_NO_FATAL_FAILURE(press());
    ASSERT_TRUE(test::waitUntil([&] {
        const UpdateSnapshot s = rig.state();
        return s.mode == test::UpMode::online && s.filesHeld && !s.downloading;
    }));
    lines.clear();  // the download's lines depend on how the bytes arrived
    rig.progressValues.clear();
    ASSERT_NO_FATAL_FAILURE(press());
    ASSERT_TRUE(rig.waitLog("update verified: 1.3"));
    ASSERT_TRUE(test::waitUntil([&] {
        return rig.state().sta == test::UpSta::none && !rig.progressValues.empty() &&
               rig.progressValues.back() == 0;
    }));

    auto& controller = rig.sim.controller();
    EXPECT_EQ(controller.receivedImage(), rig.sim.server().imageFile("1.3"));
    EXPECT_EQ(controller.receivedFirmware(), rig.sim.server().firmwareFile("1.3"));
    EXPECT_EQ(rig.sim.sleepInhibitor().timesTaken(), 1);  // from the erase to the end
    EXPECT_FALSE(rig.sim.sleepInhibitor().held());
    // The bar was full once, and was reset when the controller came back.
    EXPECT_EQ(std::count(rig.progressValues.begin(), rig.progressValues.end(), 100), 1);
    EXPECT_EQ(rig.completions, 1);
    EXPECT_TRUE(!throughWindow || rig.completionLooksRight);
    // The desktop is told the end, unless the user watches the window.
    const auto shown = rig.sim.notifier().shown();
    if (!watched) {
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].summary, "Update complete!");
        EXPECT_EQ(shown[0].body, "The controller now runs firmware 1.3.");
    } else {
        EXPECT_TRUE(shown.empty());
    }
    run->log = comparable(rig.log.lines(), rig.sim.bootloaderPath());
    run->progressLines = lines;
}

// The lines of `log` that appear in `expected`, in order, must be `expected`.
void expectInOrder(const std::vector<std::string>& log, const std::vector<std::string>& expected) {
    auto at = log.begin();
    for (const std::string& line : expected) {
        at = std::find(at, log.end(), line);
        ASSERT_NE(at, log.end()) << "missing or out of order: " << line;
        ++at;
    }
}

TEST(Engine, AloneLogsTheSameUpdateAsTheWindowDoes) {
    UpdateRun alone;
    UpdateRun window;
    ASSERT_NO_FATAL_FAILURE(runNewestUpdate(false, &alone));
    ASSERT_NO_FATAL_FAILURE(runNewestUpdate(true, &window));

    ASSERT_FALSE(alone.log.empty());
    for (std::size_t i = 0; i < std::min(alone.log.size(), window.log.size()); ++i) {
        ASSERT_EQ(alone.log[i], window.log[i]) << "line " << i << " (engine alone, window)";
    }
    EXPECT_EQ(alone.log.size(), window.log.size());
    // The window shows the engine's lines under the bar, every one, in order.
    EXPECT_EQ(alone.progressLines, window.progressLines);

    expectInOrder(alone.log,
                  {"Reachable", "ver:1.3, FW:1.2", "hid connect", "model: T, fw: 1.1, sta: none",
                   "erasing data...", "data size: 307200 = N_chunks(5688) * 54 + final(48), ",
                   "end image update", "image update done 0 [done]!!", "Mount: <volume>",
                   "file copied", "fw update successed", "Unmount: <volume>",
                   "model: T, fw: 1.3, sta: none", "update verified: 1.3"});
    // An empty volume: both deletions fail and are logged, the write goes on.
    const auto logged = [&](const std::string& prefix) {
        return std::count_if(alone.log.begin(), alone.log.end(),
                             [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    };
    EXPECT_EQ(logged("An error took place 1: "), 1);
    EXPECT_EQ(logged("An error took place 2: "), 1);
    // Identification (two requests) before and after; erase, begin, 5,688 full
    // data frames, the final frame, end and the final step in between.
    EXPECT_EQ(logged("write spend: # - return code: 0"), 2 + 5693 + 2);

    // The erase wait counts down every second; 307,200 bytes are 5,688 data
    // frames: one pause of a second before the first, then a report a
    // millisecond, so at 43% 3,244 reports are left.
    std::vector<std::string> expected;
    for (int left = 35; left >= 1; --left) {
        expected.push_back("Erasing \u2013 " + std::to_string(left) + " s left");
    }
    expected.insert(expected.end(), {"Sending firmware \u2013 0% of the image sent, about 7 s left",
                                     "Sending firmware \u2013 43% of the image sent, about 4 s left",
                                     "Sending firmware \u2013 99% of the image sent, about 1 s left",
                                     "Waiting for the controller's drive CRP DISABLE\u2026",
                                     "Writing firmware\u2026"});
    expectInOrder(alone.progressLines, expected);
}

}  // namespace
}  // namespace tarvo
