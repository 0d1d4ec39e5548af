// Whole updates, from the first button press to "Update complete!", against the
// virtual controller, the loopback firmware server and a bootloader volume,
// on the instant clock.
#include <QKeyEvent>
#include <QProcess>
#include <QTest>
#include <filesystem>

#include "e2e/rig.h"
#include "tcontroller/ui/dialogs/sel_view_controller.h"
#include "tcontroller/platform/linux/mount_volume_watcher.h"

namespace tarvo {
namespace {

using test::Rig;
using UpSta = Util::UpSta;
using UpMode = Util::UpMode;
using Conn = Reachability::Connection;
using namespace std::chrono_literals;

// The lines of `log` that appear in `expected`, in order, must be `expected`.
void expectInOrder(const test::LogCapture& log, const std::vector<std::string>& expected) {
    int at = 0;
    for (const std::string& line : expected) {
        const int found = log.indexOf(line, at);
        ASSERT_GE(found, 0) << "missing or out of order: " << line;
        at = found + 1;
    }
}

bool canMount() {
    std::string reason;
    return sim::BootloaderVolume::canMountTmpfs(&reason);
}

// The update held off sleep once and gave it back when it ended, and the
// desktop was told how it ended (the window is not the active one).
void expectSessionEnded(Rig& rig, bool success) {
    EXPECT_EQ(rig.sim.sleepInhibitor().timesTaken(), 1);
    EXPECT_FALSE(rig.sim.sleepInhibitor().held());
    const auto shown = rig.sim.notifier().shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].failure, !success);
    EXPECT_EQ(shown[0].summary, success ? "Update complete!" : "Update failed");
}

// Prepares the update to the newest release and starts it; returns when the
// controller is back on HID with `version`.
void runOnlineUpdate(Rig& rig, const std::string& version) {
    rig.sim.instantClock()->holdSleepsOfAtLeast(5.0);  // the watchdog waits for us
    test::pump(100);                                   // let the refreshes of start-up run first
    rig.vc->leftClick();
    ASSERT_EQ(rig.vc->updateMode.load(), UpMode::online);
    ASSERT_TRUE(test::waitUntil([&] {
        return rig.vc->FWData.get().has_value() && rig.vc->imageData.get() != nullptr &&
               rig.vc->leftBut->isEnabled() && rig.message().rfind("Do you want to update", 0) == 0;
    }));
    EXPECT_EQ(rig.message(),
              "Do you want to update \nFrom: Firmware V1.1\nTo: Firmware V" + version);
    rig.progressValues.clear();  // the download's share of the bar
    rig.vc->leftClick();
    EXPECT_EQ(rig.vc->updateSta.load(), UpSta::updating);
    ASSERT_TRUE(rig.waitLog("fw update successed"));
    ASSERT_TRUE(test::waitUntil([&] { return rig.clicker.clicked() == 1; }));
    ASSERT_TRUE(rig.waitIdle(version));
}

void expectOnlineUpdateLog(const Rig& rig, const std::string& path) {
    // The network report and the controller's arrival race; each keeps its own order.
    expectInOrder(rig.log, {"Reachable", "ver:1.3, FW:1.2", "ver:1.2, FW:1.2"});
    expectInOrder(rig.log,
                  {"hid connect", "model: T, fw: 1.1, sta: none", "display 3", "erasing data...",
                   "begin image update", "data size: 307200 = N_chunks(5688) * 54 + final(48), ",
                   "end image update", "image update done 0 [done]!!", "hid disconnect",
                   "Mount: " + path, "hide alert false", "file copied", "fw update successed",
                   "Unmount: " + path, "hid connect"});
    EXPECT_FALSE(rig.log.withPrefix("model: T, fw: 1.3").empty());
}

TEST(Update, OnlineToTheNewestRelease) {
    Rig rig;
    rig.publishDefault();
    rig.sim.controller().plug();
    rig.start();
    ASSERT_TRUE(rig.waitIdle());
    ASSERT_NO_FATAL_FAILURE(runOnlineUpdate(rig, "1.3"));

    auto& controller = rig.sim.controller();
    EXPECT_EQ(controller.receivedImage(), rig.sim.server().imageFile("1.3"));
    EXPECT_EQ(controller.receivedFirmware(), rig.sim.server().firmwareFile("1.3"));
    EXPECT_EQ(controller.violationCount(), 0u);
    // The tool's own icon, not a warning sign.
    EXPECT_EQ(rig.clicker.icon(), QMessageBox::NoIcon);
    EXPECT_TRUE(rig.clicker.hasIconPixmap());
    EXPECT_EQ(rig.clicker.buttons(), 1);
    expectOnlineUpdateLog(rig, rig.sim.bootloaderPath());
    expectSessionEnded(rig, true);
    EXPECT_EQ(rig.sim.notifier().shown().at(0).body, "The controller now runs firmware 1.3.");
    // An empty volume: both deletions fail and are logged, the write goes on.
    EXPECT_EQ(rig.log.withPrefix("An error took place 1: ").size(), 1u);
    EXPECT_EQ(rig.log.withPrefix("An error took place 2: ").size(), 1u);
    // Back to the idle window with the new version.
    ASSERT_TRUE(test::waitUntil([&] { return rig.vc->FWLabel->text() == "V 1.3"; }));
    EXPECT_EQ(rig.vc->updateSta.load(), UpSta::none);
    EXPECT_EQ(rig.vc->updateMode.load(), UpMode::none);
    EXPECT_EQ(rig.message(), "Already the latest version");
    // The bar went through the erase seconds and ended full.
    ASSERT_FALSE(rig.progressValues.empty());
    EXPECT_EQ(rig.progressValues.front(), 1);
    // Reset when the controller came back.
    EXPECT_TRUE(test::waitUntil([&] { return rig.progressValues.back() == 0; }));
    EXPECT_NE(std::find(rig.progressValues.begin(), rig.progressValues.end(), 100),
              rig.progressValues.end());
}

// The user watches the window: the desktop is not told what it already shows.
TEST(Update, NoNotificationWhileTheWindowIsActive) {
    Rig rig;
    rig.publishDefault();
    rig.sim.controller().plug();
    rig.start();
    rig.vc->show();
    rig.vc->activateWindow();
    if (!QTest::qWaitForWindowActive(rig.vc.get())) {
        GTEST_SKIP() << "this window system does not activate windows";
    }
    ASSERT_TRUE(rig.waitIdle());
    ASSERT_NO_FATAL_FAILURE(runOnlineUpdate(rig, "1.3"));
    EXPECT_EQ(rig.sim.sleepInhibitor().timesTaken(), 1);
    EXPECT_FALSE(rig.sim.sleepInhibitor().held());
    EXPECT_TRUE(rig.sim.notifier().shown().empty());
}

TEST(Update, OnlineOnARealTmpfsVolume) {
    if (!canMount()) {
        GTEST_SKIP() << "this process may not mount tmpfs";
    }
    sim::SimulatedPlatform::Options options;
    options.tmpfsVolume = true;
    Rig rig(options);
    rig.publishDefault();
    rig.sim.controller().updateConfig([](auto& config) { config.oldFirmwareOnVolume = true; });
    rig.sim.controller().plug();
    rig.start();
    ASSERT_TRUE(rig.waitIdle());
    ASSERT_NO_FATAL_FAILURE(runOnlineUpdate(rig, "1.3"));
    EXPECT_EQ(rig.sim.controller().receivedFirmware(), rig.sim.server().firmwareFile("1.3"));
    EXPECT_EQ(rig.sim.controller().violationCount(), 0u);
    EXPECT_TRUE(rig.log.contains("Remove successfully 1"));
    expectOnlineUpdateLog(rig, rig.sim.bootloaderPath());
}

TEST(Update, WithoutNetworkTheBuiltInReleaseIsInstalled) {
    sim::SimulatedPlatform::Options options;
    options.network = Conn::unavailable;
    Rig rig(options);
    rig.sim.controller().plug();
    rig.start();
    ASSERT_TRUE(rig.waitIdle());
    rig.sim.instantClock()->holdSleepsOfAtLeast(5.0);
    rig.vc->leftClick();
    EXPECT_EQ(rig.vc->updateMode.load(), UpMode::bIn);
    EXPECT_EQ(rig.message(),
              "No internet connection, newest version as of: Version 1.2 [2019-10-22] will be "
              "installed");
    rig.vc->leftClick();
    ASSERT_TRUE(rig.waitLog("fw update successed"));
    ASSERT_TRUE(rig.waitIdle("1.2"));
    EXPECT_EQ(rig.sim.server().requestCount(), 0u);
    EXPECT_EQ(rig.sim.controller().receivedFirmware(), rig.builtInFirmware());
    EXPECT_EQ(rig.sim.controller().violationCount(), 0u);
}

TEST(Update, BootloaderModeAtStartIsRecoveredOnce) {
    Rig rig;
    // Plugged in, in bootloader mode, before the tool starts: its volume mounts
    // as the window starts, before or after the watcher begins; either way it
    // is handled once.
    rig.sim.controller().startInBootloader();
    rig.start();
    ASSERT_TRUE(rig.waitLog("fw update successed"));
    ASSERT_TRUE(rig.waitIdle("1.2"));
    EXPECT_EQ(rig.log.count("Mount: " + rig.sim.bootloaderPath()), 1);
}

TEST(Update, ControllerInBootloaderModeIsRecoveredWithoutAPress) {
    Rig rig;
    rig.start();
    rig.sim.controller().startInBootloader();
    ASSERT_TRUE(rig.waitLog("fw update successed"));
    ASSERT_TRUE(test::waitUntil([&] { return rig.clicker.clicked() == 1; }));
    ASSERT_TRUE(rig.waitIdle("1.2"));
    // The built-in release is read image first, then firmware.
    expectInOrder(rig.log,
                  {"Mount: " + rig.sim.bootloaderPath(), "open image successed, size: 307200",
                   "open fw successed, size: 65536", "file copied"});
    EXPECT_EQ(rig.sim.controller().receivedFirmware(), rig.builtInFirmware());
    EXPECT_EQ(rig.sim.controller().violationCount(), 0u);
}

TEST(Update, AnOlderVersionPickedInTheChooser) {
    Rig rig;
    rig.sim.server().publish({{"1.3", "2020-01-15", std::nullopt, std::nullopt},
                              {"1.1", "2019-06-30", std::nullopt, std::nullopt}});
    rig.sim.controller().updateConfig([](auto& config) { config.versionChars = "100"; });
    rig.sim.controller().plug();
    rig.start();
    ASSERT_TRUE(rig.waitIdle("1.0"));
    ASSERT_TRUE(test::waitUntil([&] { return rig.vc->onlineVers.get().size() == 2; }));
    rig.sim.instantClock()->holdSleepsOfAtLeast(5.0);
    test::pump(100);

    rig.vc->rightClick();
    ASSERT_TRUE(
        test::waitUntil([&] { return rig.vc->openChooser && rig.vc->openChooser->isVisible(); }));
    SelViewController* chooser = rig.vc->openChooser;
    ASSERT_EQ(chooser->tmpArr.size(), 2u);
    chooser->viewClickedWithNoti(QVariant(1));  // the second row: 1.1
    chooser->okClick();
    ASSERT_TRUE(test::waitUntil([&] { return rig.vc->updateMode.load() == UpMode::online; }));
    ASSERT_TRUE(test::waitUntil([&] { return rig.vc->openChooser.isNull(); }));
    EXPECT_EQ(rig.vc->FWData.get(), rig.sim.server().firmwareFile("1.1"));
    EXPECT_EQ(test::bytesOf(rig.vc->imageData.get()), rig.sim.server().imageFile("1.1"));

    // The chooser's refresh has shown and forgotten the choice; the next press
    // starts the update to it.
    ASSERT_TRUE(test::waitUntil([&] { return !rig.vc->selectedFW.get().has_value(); }));
    rig.vc->leftClick();
    ASSERT_TRUE(rig.waitLog("fw update successed"));
    ASSERT_TRUE(rig.waitIdle("1.1"));
    EXPECT_EQ(rig.sim.controller().receivedImage(), rig.sim.server().imageFile("1.1"));
    EXPECT_EQ(rig.sim.controller().receivedFirmware(), rig.sim.server().firmwareFile("1.1"));
    EXPECT_EQ(rig.sim.controller().violationCount(), 0u);
}

// Every fault ends failed, never as a success that was not written.
void expectFailedNotWritten(Rig& rig) {
    ASSERT_TRUE(rig.waitStatus(UpSta::failed));
    test::pump(100);
    EXPECT_FALSE(rig.log.contains("fw update successed"));
    EXPECT_FALSE(rig.sim.controller().receivedFirmware().has_value());
    ASSERT_TRUE(test::waitUntil([&] { return !rig.vc->FailedOKBut->isHidden(); }));
    expectSessionEnded(rig, false);
}

struct Prepared {
    explicit Prepared(sim::SimulatedPlatform::Options options = {}) : rig(options) {
        rig.publishDefault();
    }
    // Identified controller, built-in release prepared (no download needed).
    void prepare() {
        rig.sim.controller().plug();
        rig.start();
        ASSERT_TRUE(rig.waitIdle());
        rig.sim.instantClock()->holdSleepsOfAtLeast(5.0);
        rig.vc->hasNetwork = false;
        rig.vc->leftClick();
        ASSERT_EQ(rig.vc->updateMode.load(), UpMode::bIn);
    }
    Rig rig;
};

// Unplugged during the erase wait, and unplugged then plugged back in before
// the next check: either way the attempt fails, and nothing after the erase
// reaches the controller that came back (it was not erased in this attempt).
class EraseWaitDetach : public ::testing::TestWithParam<bool> {};

TEST_P(EraseWaitDetach, FailsTheAttempt) {
    const bool replug = GetParam();
    Prepared p;
    auto& controller = p.rig.sim.controller();
    ASSERT_NO_FATAL_FAILURE(p.prepare());
    // The first erase second is held, so the cable is pulled (and put back)
    // while the transfer waits, as it would be in real time.
    auto* clock = p.rig.sim.instantClock();
    clock->holdSleepsOfAtLeast(1.0);
    p.rig.vc->leftClick();
    ASSERT_TRUE(test::waitUntil([&] { return clock->heldSleepers() == 1; }));
    EXPECT_TRUE(p.rig.sim.sleepInhibitor().held());  // from the erase on
    controller.unplug();
    ASSERT_TRUE(p.rig.waitLog("hid disconnect"));
    if (replug) {
        controller.plug();
        ASSERT_TRUE(test::waitUntil([&] { return p.rig.vc->controllerIdentified(); }));
    }
    clock->release();
    ASSERT_NO_FATAL_FAILURE(expectFailedNotWritten(p.rig));
    EXPECT_TRUE(p.rig.log.contains("erasing data..."));
    EXPECT_FALSE(p.rig.log.contains("begin image update"));
    EXPECT_TRUE(p.rig.log.withPrefix("image update done").empty());
    EXPECT_EQ(controller.frameCount(sim::Command::begin), 0u);
    EXPECT_EQ(controller.frameCount(sim::Command::finalStep), 0u);
    EXPECT_EQ(controller.violationCount(), 0u);
    // OK resets to the idle state.
    p.rig.vc->hasNetwork = true;
    p.rig.vc->click();
    EXPECT_EQ(p.rig.vc->updateSta.load(), UpSta::none);
    EXPECT_EQ(p.rig.vc->updateMode.load(), UpMode::none);
}

INSTANTIATE_TEST_SUITE_P(UpdateFaults, EraseWaitDetach, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Replug" : "Unplug"; });

TEST(UpdateFaults, UnplugDuringTheDataFrames) {
    Prepared p;
    p.rig.sim.controller().updateFaults([](auto& faults) { faults.unplugAtDataFrame = 1000; });
    ASSERT_NO_FATAL_FAILURE(p.prepare());
    p.rig.vc->leftClick();
    ASSERT_NO_FATAL_FAILURE(expectFailedNotWritten(p.rig));
    EXPECT_FALSE(p.rig.log.contains("end image update"));
    EXPECT_EQ(p.rig.sim.controller().frameCount(sim::Command::end), 0u);
    EXPECT_NE(p.rig.message().find("Step that failed: transfer."), std::string::npos);

    // The failed attempt is over once the controller is back: a later failure
    // of its own (a release whose files could not be read) never names this
    // attempt's step.
    auto* vc = p.rig.vc.get();
    p.rig.sim.controller().plug();
    ASSERT_TRUE(test::waitUntil([&] { return vc->controllerIdentified(); }));
    ASSERT_TRUE(p.rig.waitStatus(UpSta::none));
    vc->takeRelease(UpMode::offline, {"1.3", ""}, std::nullopt, std::nullopt);
    vc->leftClick();
    ASSERT_TRUE(p.rig.waitStatus(UpSta::failed));
    ASSERT_TRUE(test::waitUntil([&] { return !vc->FailedOKBut->isHidden(); }));
    EXPECT_EQ(p.rig.message().find("Step that failed"), std::string::npos) << p.rig.message();
}

TEST(UpdateFaults, AFailingDataWrite) {
    Prepared p;
    p.rig.sim.controller().updateFaults(
        [](auto& faults) { faults.failWritesAfterDataFrames = 10; });
    ASSERT_NO_FATAL_FAILURE(p.prepare());
    p.rig.vc->leftClick();
    ASSERT_NO_FATAL_FAILURE(expectFailedNotWritten(p.rig));
    EXPECT_TRUE(p.rig.log.contains("image update done -1 [hid device is not existed]!!"));
    EXPECT_EQ(p.rig.sim.controller().dataFrameCount(), 10u);
    EXPECT_EQ(p.rig.sim.controller().frameCount(sim::Command::end), 0u);
}

TEST(UpdateFaults, FinalStepNotSentThenOkSendsItAgain) {
    Prepared p;
    ASSERT_NO_FATAL_FAILURE(p.prepare());
    auto& controller = p.rig.sim.controller();
    auto* vc = p.rig.vc.get();
    // The image went through but the controller is gone when the final step is due.
    controller.unplug();
    ASSERT_TRUE(test::waitUntil([&] { return !vc->hidDeviceInfo.get(); }));
    vc->updateSta = UpSta::updating;
    vc->imageUpdateDone(0, "done");
    EXPECT_TRUE(p.rig.log.contains("image update done 0 [done]!!"));
    EXPECT_EQ(vc->updateSta.load(), UpSta::failed);
    EXPECT_TRUE(vc->imageUpdated.load());
    EXPECT_FALSE(vc->finalStep.load());
    // The failure screen names the step and says OK sends it again.
    EXPECT_TRUE(vc->msgLabel->text().contains("Step that failed: final step."));
    EXPECT_TRUE(vc->msgLabel->text().contains("press OK: the command is sent again."));
    // Plugged back in: OK sends the final step again, without a refresh.
    controller.plug();
    ASSERT_TRUE(p.rig.waitIdle());
    vc->hasNetwork = true;  // offline and idle, OK would open the chooser instead
    vc->click();
    EXPECT_TRUE(vc->finalStep.load());
    ASSERT_TRUE(p.rig.waitLog("fw update successed"));
    EXPECT_EQ(controller.frameCount(sim::Command::finalStep), 1u);
}

// The final step is lost (no volume appears); the user replugs as the alert
// says and answers it, here with Escape. The replug must not cost the release:
// the volume gets the firmware of the image that was sent, never the built-in
// one, and the controller comes back on that version.
TEST(UpdateFaults, NoVolumeThenReplugAndTheAlertKeepsTheRelease) {
    Prepared p;
    auto& controller = p.rig.sim.controller();
    controller.updateFaults([](auto& faults) { faults.mountAfterFinalStep = false; });
    ASSERT_NO_FATAL_FAILURE(p.prepare());
    auto* vc = p.rig.vc.get();
    auto& server = p.rig.sim.server();
    vc->takeRelease(UpMode::offline, {"1.3", ""}, server.imageFile("1.3"),
                    server.firmwareFile("1.3"));
    p.rig.sim.instantClock()->release();  // let the watchdog fire
    vc->leftClick();
    ASSERT_TRUE(test::waitUntil([&] { return vc->alert->shown; }));
    EXPECT_EQ(p.rig.log.count("view will appear"), 1);
    // A second watchdog with the final step still pending changes nothing.
    vc->startWatchdog();
    test::pump(100);
    EXPECT_EQ(p.rig.log.count("view will appear"), 1);
    EXPECT_EQ(vc->alert->label->text().toStdString(), AlertViewController::message());

    controller.unplug();
    controller.updateFaults([](auto& faults) { faults.mountAfterFinalStep = true; });
    controller.plug();
    ASSERT_TRUE(test::waitUntil([&] { return vc->controllerIdentified(); }));
    EXPECT_EQ(vc->updateSta.load(), UpSta::updating);  // the update goes on
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(vc->alert, &escape);
    EXPECT_TRUE(p.rig.log.contains("alerted"));
    ASSERT_TRUE(test::waitUntil([&] { return !vc->alert->shown; }));
    // Without a window manager, keys still reach the hidden alert: they must
    // not act for a dialog that is not shown.
    for (int i = 0; i < 6; ++i) {
        QApplication::sendEvent(vc->alert, &escape);
    }
    ASSERT_TRUE(p.rig.waitLog("update verified: 1.3"));
    EXPECT_EQ(p.rig.log.count("alerted"), 1);
    EXPECT_EQ(controller.frameCount(sim::Command::finalStep), 2u);
    EXPECT_EQ(controller.receivedImage(), server.imageFile("1.3"));
    EXPECT_EQ(controller.receivedFirmware(), server.firmwareFile("1.3"));
    EXPECT_EQ(controller.violationCount(), 0u);
}

TEST(UpdateFaults, VolumeUnmountedBeforeTheWrite) {
    Prepared p;
    p.rig.sim.controller().updateFaults([](auto& faults) { faults.unmountBeforeWrite = true; });
    ASSERT_NO_FATAL_FAILURE(p.prepare());
    p.rig.vc->leftClick();
    ASSERT_TRUE(p.rig.waitLog("Unmount: " + p.rig.sim.bootloaderPath()));
    ASSERT_TRUE(p.rig.waitLog("fw update failed"));
    EXPECT_EQ(p.rig.vc->updateSta.load(), UpSta::failed);
    EXPECT_FALSE(p.rig.log.contains("fw update successed"));
    EXPECT_FALSE(p.rig.sim.controller().receivedFirmware().has_value());
}

TEST(UpdateFaults, AFullVolume) {
    if (!canMount()) {
        GTEST_SKIP() << "this process may not mount tmpfs";
    }
    sim::SimulatedPlatform::Options options;
    options.tmpfsVolume = true;
    options.tmpfsBytes = 16 * 1024;  // the 64 KiB firmware cannot fit
    Prepared p(options);
    ASSERT_NO_FATAL_FAILURE(p.prepare());
    p.rig.vc->leftClick();
    ASSERT_TRUE(p.rig.waitLog("fw update failed"));
    expectInOrder(p.rig.log,
                  {"Mount: " + p.rig.sim.bootloaderPath(), "copy file failed", "fw update failed"});
    EXPECT_EQ(p.rig.vc->updateSta.load(), UpSta::failed);
    EXPECT_FALSE(p.rig.log.contains("file copied"));
    // No truncated firmware file is left for the bootloader.
    EXPECT_FALSE(std::filesystem::exists(p.rig.sim.bootloaderPath() + "/FW.bin"));
}

// Two bootloader volumes mounted at once (two controllers in bootloader mode):
// each copy goes to the volume whose mount started it, never both to the last.
TEST(UpdateFaults, TwoBootloaderVolumesEachGetTheirOwnCopy) {
    namespace fs = std::filesystem;
    // Two folders that stand for two small USB drives.
    struct TwoVolumes : PosixFileSystem {
        std::vector<std::string> points;
        bool isMountPoint(const std::string& path) override {
            return std::find(points.begin(), points.end(), path) != points.end();
        }
        Result<VolumeFacts> describeVolume(const std::string& path) override {
            Result<VolumeFacts> facts = PosixFileSystem::describeVolume(path);
            if (facts.ok()) {
                facts.value->bus = "usb";
                facts.value->totalBytes = 1u << 20;
            }
            return facts;
        }
    };
    Rig rig;
    const fs::path base = fs::path(rig.sim.bootloaderPath()).parent_path();
    TwoVolumes files;
    files.points = {(base / "a" / "CRP DISABLE").string(), (base / "b" / "CRP DISABLE").string()};
    for (const std::string& point : files.points) {
        fs::create_directories(point);
    }
    test::FakeVolumeWatcher volumes;
    Platform platform = rig.sim.platform();
    platform.fileSystem = &files;
    platform.volumeWatcher = &volumes;
    platform.bootloaderMountPoints = files.points;
    // Nothing on HID and no network: the rig keeps its controller and reachability.
    platform.hidMonitorFactory = nullptr;
    platform.reachabilityFactory = nullptr;
    ViewController vc(platform);
    vc.viewDidLoad();
    volumes.mount(QString::fromStdString(files.points[0]));
    volumes.mount(QString::fromStdString(files.points[1]));
    ASSERT_TRUE(test::waitUntil([&] { return rig.log.count("fw update successed") == 2; }));
    for (const std::string& point : files.points) {
        ASSERT_TRUE(fs::exists(point + "/FW.bin")) << point;
        EXPECT_EQ(fs::file_size(point + "/FW.bin"),
                  fs::file_size(std::string(TARVO_SOURCE_RESOURCES_DIR) + "/TFW/FW.bin"))
            << point;
    }
}

// Image sizes at the edges of the frame arithmetic: frame counts, the bar, and
// the one-second pause before every ten-thousandth frame.
struct SizeCase {
    std::size_t length;
    std::size_t dataFrames;  // including the final frame
    int pauses;
    std::vector<int> barAfterErase;  // shown values between 35 and the firmware stage
};

class ImageSizes : public ::testing::TestWithParam<SizeCase> {};

TEST_P(ImageSizes, FramesProgressAndPauses) {
    const SizeCase& c = GetParam();
    Rig rig;
    rig.sim.controller().plug();
    rig.start();
    ASSERT_TRUE(rig.waitIdle());
    auto* clock = rig.sim.instantClock();
    clock->holdSleepsOfAtLeast(5.0);
    Bytes image(c.length);
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<std::uint8_t>(i * 31 + 7);
    }
    rig.vc->takeRelease(UpMode::offline, {"1.3", ""}, image,
                        sim::makeReleaseFile(sim::FileKind::firmware, "1.3", 4096));
    const int secondsBefore = clock->sleepsOf(1.0);
    rig.vc->leftClick();
    ASSERT_TRUE(rig.waitLog("image update done 0 [done]!!", 120000));
    EXPECT_TRUE(rig.log.contains("data size: " + std::to_string(c.length) + " = N_chunks(" +
                                 std::to_string(c.length / 54) + ") * 54 + final(" +
                                 std::to_string(c.length % 54) + "), "));
    EXPECT_EQ(clock->sleepsOf(1.0) - secondsBefore, 35 + c.pauses);
    auto& controller = rig.sim.controller();
    EXPECT_EQ(controller.dataFrameCount(), c.dataFrames);
    EXPECT_EQ(controller.receivedImage(), image);
    EXPECT_EQ(controller.violationCount(), 0u);
    ASSERT_TRUE(rig.waitLog("fw update successed"));
    ASSERT_TRUE(rig.waitLog("update verified: 1.3"));
    // The bar: 1..35 for the erase seconds, the data frames, 95, then 96, 98, 100.
    std::vector<int> expected;
    for (int k = 1; k <= 35; ++k) {
        expected.push_back(k);
    }
    expected.insert(expected.end(), c.barAfterErase.begin(), c.barAfterErase.end());
    expected.insert(expected.end(), {95, 96, 98, 100});
    ASSERT_TRUE(test::waitUntil([&] { return rig.progressValues.size() >= expected.size(); }));
    EXPECT_EQ(std::vector<int>(rig.progressValues.begin(),
                               rig.progressValues.begin() + static_cast<long>(expected.size())),
              expected);
}

std::vector<int> barForFrames(std::size_t n) {
    // Shown (whole-percent) values after each full frame, without repeats.
    std::vector<int> shown;
    int last = 35;
    for (std::size_t i = 0; i < n; ++i) {
        const int v =
            static_cast<int>(static_cast<double>(i) * (60.0 / static_cast<double>(n + 1)) + 35.0);
        if (v != last) {
            shown.push_back(v);
            last = v;
        }
    }
    return shown;
}

INSTANTIATE_TEST_SUITE_P(Transfer, ImageSizes,
                         ::testing::Values(SizeCase{0, 1, 0, {}}, SizeCase{53, 1, 0, {}},
                                           SizeCase{54, 2, 1, {}}, SizeCase{108, 3, 1, {55}},
                                           SizeCase{540054, 10002, 2, barForFrames(10001)}),
                         [](const auto& info) { return "L" + std::to_string(info.param.length); });

// The close button ends the process at once; the window manager's close asks
// first during an update, and ends it only on "Close anyway".
class CloseChild : public ::testing::TestWithParam<const char*> {};

TEST_P(CloseChild, EndsTheProcessDuringTheEraseWait) {
    QProcess child;
    child.setProcessChannelMode(QProcess::SeparateChannels);
    child.start(TARVO_CLOSE_CHILD, {GetParam()});
    ASSERT_TRUE(child.waitForStarted(10000));
    ASSERT_TRUE(child.waitForFinished(120000)) << "closing did not end the process";
    const QString out = QString::fromUtf8(child.readAllStandardOutput());
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 0);
    EXPECT_TRUE(out.contains("erasing data...")) << out.toStdString();
    EXPECT_FALSE(out.contains("begin image update")) << out.toStdString();
    EXPECT_TRUE(out.contains("closing now")) << out.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Close, CloseChild, ::testing::Values("button", "window-close-anyway"));

TEST(Close, TheWindowManagersCloseDuringAnUpdateAsksAndKeepsUpdating) {
    Prepared p;
    ASSERT_NO_FATAL_FAILURE(p.prepare());
    p.rig.sim.instantClock()->holdSleepsOfAtLeast(1.0);  // stay in the erase wait
    p.rig.vc->leftClick();
    ASSERT_TRUE(p.rig.waitLog("erasing data..."));
    QString question;
    QString defaultButton;
    QTimer::singleShot(50, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            question = box->text();
            defaultButton = box->defaultButton()->text();
            box->defaultButton()->click();
        }
    });
    EXPECT_FALSE(p.rig.vc->close());
    EXPECT_EQ(question.toStdString(),
              "An update is running. Closing now can leave the controller unusable.");
    EXPECT_EQ(defaultButton.toStdString(), "Keep updating");
    p.rig.sim.instantClock()->release();
    ASSERT_TRUE(p.rig.waitLog("update verified: 1.2"));
}

// The window's own Close button, shown while the tool waits for the
// controller's drive after the final step, asks as the window manager's close
// does; "Keep updating" keeps the process (and the update) alive.
TEST(Close, TheCloseButtonAfterTheFinalStepAsks) {
    QProcess child;
    child.setProcessChannelMode(QProcess::SeparateChannels);
    child.start(TARVO_CLOSE_CHILD, {"button-after-final-step"});
    ASSERT_TRUE(child.waitForStarted(10000));
    ASSERT_TRUE(child.waitForFinished(120000)) << "the child did not end";
    const QString out = QString::fromUtf8(child.readAllStandardOutput());
    EXPECT_TRUE(out.contains("image update done 0 [done]!!")) << out.toStdString();
    EXPECT_TRUE(out.contains("kept")) << "the Close button ended the process without asking";
    EXPECT_EQ(child.exitCode(), 4);
}

}  // namespace
}  // namespace tarvo
