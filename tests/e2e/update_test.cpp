// Whole updates through the engine's commands, from the first request to the
// verified version, against the virtual controller, the loopback firmware
// server and a bootloader volume, on the instant clock; and how each fault of
// the controller or its drive ends them.
#include <filesystem>
#include <thread>

#include "e2e/rig.h"
#include "support/temp_files.h"

namespace tarvo {
namespace {

using test::Rig;
using test::UpMode;
using test::UpSta;
namespace fs = std::filesystem;

// The update held off sleep once and gave it back when it ended, and the
// desktop was told how it ended.
void expectSessionEnded(Rig& rig, bool success) {
    EXPECT_EQ(rig.sim.sleepInhibitor().timesTaken(), 1);
    EXPECT_FALSE(rig.sim.sleepInhibitor().held());
    const auto shown = rig.sim.notifier().shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].failure, !success);
    EXPECT_EQ(shown[0].summary, success ? "Update complete!" : "Update failed");
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The built-in release is installed: asked for on a platform without
// network, onto a folder that stands for the drive or onto a real tmpfs
// holding an old firmware file; or, without a request, onto a controller in
// bootloader mode plugged in before the engine starts (its volume mounts as
// the engine starts, before or after the watcher begins) or after.
enum class BuiltIn { folder, tmpfs, bootloaderAtStart, bootloaderLater };

class BuiltInRelease : public ::testing::TestWithParam<BuiltIn> {};

TEST_P(BuiltInRelease, IsInstalledOnce) {
    const BuiltIn c = GetParam();
    std::string why;
    if (c == BuiltIn::tmpfs && !sim::BootloaderVolume::canMountTmpfs(&why)) {
        GTEST_SKIP() << why;
    }
    sim::SimulatedPlatform::Options options = test::offline();
    options.tmpfsVolume = c == BuiltIn::tmpfs;
    Rig rig(options);
    auto& controller = rig.sim.controller();
    controller.updateConfig(
        [&](auto& config) { config.oldFirmwareOnVolume = options.tmpfsVolume; });
    const bool requested = c == BuiltIn::folder || c == BuiltIn::tmpfs;
    if (requested) {
        ASSERT_NO_FATAL_FAILURE(rig.prepareBuiltIn());
        EXPECT_EQ(rig.state().selected, (Util::Histoty{"1.2", "2019-10-22"}));
        rig.engine->confirm();
        EXPECT_EQ(rig.state().sta, UpSta::updating);
    } else {
        if (c == BuiltIn::bootloaderAtStart) {
            controller.startInBootloader();
        }
        rig.start();
        if (c == BuiltIn::bootloaderLater) {
            controller.startInBootloader();
        }
    }
    ASSERT_TRUE(rig.waitLog("update verified: 1.2"));
    ASSERT_TRUE(rig.waitStatus(UpSta::none));
    EXPECT_EQ(rig.completions, 1);
    EXPECT_EQ(rig.log.count("Mount: " + rig.sim.bootloaderPath()), 1);
    // The built-in release is read image first, then firmware.
    EXPECT_LT(rig.log.indexOf("open image successed, size: 307200"),
              rig.log.indexOf("open fw successed, size: 65536"));
    EXPECT_EQ(rig.log.count("Remove successfully 1"), options.tmpfsVolume ? 1 : 0);
    EXPECT_EQ(rig.sim.server().requestCount(), 0u);
    EXPECT_EQ(controller.receivedFirmware(), rig.builtInFirmware());
    EXPECT_EQ(controller.violationCount(), 0u);
    // A recovery found in the bootloader is an update like any other: no
    // sleep while its firmware is written, and the desktop told its end.
    expectSessionEnded(rig, true);
}

std::string builtInName(const ::testing::TestParamInfo<BuiltIn>& info) {
    static const char* const names[] = {"Folder", "Tmpfs", "BootloaderAtStart", "BootloaderLater"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Update, BuiltInRelease,
                         ::testing::Values(BuiltIn::folder, BuiltIn::tmpfs,
                                           BuiltIn::bootloaderAtStart, BuiltIn::bootloaderLater),
                         builtInName);

TEST(Update, AnEarlierPublishedReleaseChosen) {
    Rig rig;
    rig.sim.server().publish({{"1.3", "2020-01-15", std::nullopt, std::nullopt},
                              {"1.1", "2019-06-30", std::nullopt, std::nullopt}});
    rig.sim.controller().updateConfig([](auto& config) { config.versionChars = "100"; });
    rig.sim.controller().plug();
    rig.start();
    ASSERT_TRUE(rig.waitIdle("1.0"));
    ASSERT_EQ(rig.state().releases.size(), 2u);
    rig.sim.instantClock()->holdSleepsOfAtLeast(5.0);

    ASSERT_EQ(rig.engine->chooseEarlier(), UpdateEngine::EarlierChoice::choose);
    Result<void> chosen = Result<void>::failure("not run");
    std::thread([&] { chosen = rig.engine->updateTo({"1.1", "2019-06-30"}); }).join();
    ASSERT_TRUE(chosen.ok()) << chosen.error;
    const UpdateSnapshot prepared = rig.state();
    EXPECT_EQ(prepared.mode, UpMode::online);
    EXPECT_TRUE(prepared.filesHeld);
    EXPECT_EQ(prepared.selected, (Util::Histoty{"1.1", "2019-06-30"}));
    test::pump(50);  // the choice is shown once, then forgotten; the mode stays
    rig.engine->confirm();
    ASSERT_TRUE(rig.waitLog("update verified: 1.1"));
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
    expectSessionEnded(rig, false);
}

// Unplugged during the erase wait, and unplugged then plugged back in before
// the next check: either way the attempt fails, and nothing after the erase
// reaches the controller that came back (it was not erased in this attempt).
class EraseWaitDetach : public ::testing::TestWithParam<bool> {};

TEST_P(EraseWaitDetach, FailsTheAttempt) {
    const bool replug = GetParam();
    Rig rig(test::offline());
    auto& controller = rig.sim.controller();
    ASSERT_NO_FATAL_FAILURE(rig.prepareBuiltIn());
    // The first erase second is held, so the cable is pulled (and put back)
    // while the transfer waits, as it would be in real time.
    auto* clock = rig.sim.instantClock();
    clock->holdSleepsOfAtLeast(1.0);
    rig.engine->confirm();
    ASSERT_TRUE(test::waitUntil([&] { return clock->heldSleepers() == 1; }));
    EXPECT_TRUE(rig.sim.sleepInhibitor().held());  // from the erase on
    controller.unplug();
    ASSERT_TRUE(rig.waitLog("hid disconnect"));
    if (replug) {
        controller.plug();
        ASSERT_TRUE(test::waitUntil([&] { return rig.engine->controllerIdentified(); }));
    }
    clock->release();
    ASSERT_NO_FATAL_FAILURE(expectFailedNotWritten(rig));
    EXPECT_TRUE(rig.log.contains("erasing data..."));
    EXPECT_FALSE(rig.log.contains("begin image update"));
    EXPECT_EQ(controller.frameCount(sim::Command::begin), 0u);
    EXPECT_EQ(controller.frameCount(sim::Command::finalStep), 0u);
    EXPECT_EQ(controller.violationCount(), 0u);
    EXPECT_TRUE(contains(rig.state().failureNote, "Step that failed: erase."));
    // OK resets to the idle state.
    rig.engine->acknowledgeFailure();
    EXPECT_EQ(rig.state().sta, UpSta::none);
    EXPECT_EQ(rig.state().mode, UpMode::none);
    EXPECT_EQ(rig.state().failureNote, "");
}

INSTANTIATE_TEST_SUITE_P(UpdateFaults, EraseWaitDetach, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Replug" : "Unplug"; });

// A fault after the erase, the step the failure names, and a log line the
// support details carry.
struct StageCase {
    const char* name;
    sim::VirtualController::Faults faults;
    const char* stage;
    const char* line;
    bool firmwareWritten;
};

class StageFailure : public ::testing::TestWithParam<StageCase> {};

TEST_P(StageFailure, NamesTheStepUntilANewAttempt) {
    const StageCase& c = GetParam();
    Rig rig(test::offline());
    auto& controller = rig.sim.controller();
    ASSERT_NO_FATAL_FAILURE(rig.prepareBuiltIn());
    controller.setFaults(c.faults);
    rig.engine->confirm();
    if (c.firmwareWritten) {
        ASSERT_TRUE(rig.waitStatus(UpSta::failed));
        EXPECT_FALSE(rig.log.contains("update verified: 1.2"));
    } else {
        ASSERT_NO_FATAL_FAILURE(expectFailedNotWritten(rig));
        EXPECT_EQ(controller.frameCount(sim::Command::end), 0u);
    }
    ASSERT_TRUE(rig.waitLog(c.line));
    EXPECT_TRUE(contains(rig.state().failureNote, c.stage)) << rig.state().failureNote;

    // The details for support: the controller, the release and the log's
    // latest lines, the newest last. The thousands of per-frame lines of a
    // transfer take one line, so what came before them is still there.
    const std::string details = rig.engine->supportDetails();
    EXPECT_TRUE(contains(details, "Controller: model T, firmware 1.1")) << details;
    EXPECT_TRUE(contains(details, "Release: 1.2\n")) << details;
    EXPECT_TRUE(contains(details, "\nerasing data...\n")) << details;
    EXPECT_TRUE(contains(details, "\n" + std::string(c.line) + "\n")) << details;
    EXPECT_LE(std::count(details.begin(), details.end(), '\n'), 200 + 10);

    // Back on the bus, a later failure of its own (a release whose files could
    // not be read) never names this attempt's step.
    controller.setFaults({});
    controller.unplug();
    controller.plug();
    ASSERT_TRUE(test::waitUntil([&] { return rig.engine->controllerIdentified(); }));
    rig.engine->takeRelease(UpMode::offline, {"1.3", ""}, std::nullopt, std::nullopt);
    rig.engine->confirm();
    ASSERT_TRUE(rig.waitStatus(UpSta::failed));
    EXPECT_FALSE(contains(rig.state().failureNote, "Step that failed")) << rig.state().failureNote;
    // OK goes back to the idle state.
    rig.engine->acknowledgeFailure();
    EXPECT_EQ(rig.state().sta, UpSta::none);
    EXPECT_EQ(rig.state().mode, UpMode::none);
}

sim::VirtualController::Faults failWritesAfter(std::size_t frames) {
    sim::VirtualController::Faults faults;
    faults.failWritesAfterDataFrames = frames;
    return faults;
}

INSTANTIATE_TEST_SUITE_P(
    UpdateFaults, StageFailure,
    ::testing::Values(
        StageCase{"UnplugInTheData",
                  sim::VirtualController::Faults::of(sim::DeviceFault::unplugInData),
                  "Step that failed: transfer.", "begin image update", false},
        StageCase{"FailingDataWrites", failWritesAfter(10), "Step that failed: transfer.",
                  "image update done -1 [hid device is not existed]!!", false},
        StageCase{"OldVersionAfterTheWrite",
                  sim::VirtualController::Faults::of(sim::DeviceFault::keepOldVersion),
                  "Step that failed: verification.\nThe controller came back with firmware 1.1",
                  "update not verified: controller reports 1.1, expected 1.2", true}),
    [](const auto& info) { return std::string(info.param.name); });

// The controller's drive goes away before anything is written on it. After a
// replug the update goes on: OK sends the final step again, and the drive
// gets the firmware of the image that was sent.
TEST(UpdateFaults, TheDriveGoneBeforeTheWriteThenOkSendsTheFinalStepAgain) {
    Rig rig(test::offline());
    auto& controller = rig.sim.controller();
    ASSERT_NO_FATAL_FAILURE(rig.prepareBuiltIn());
    controller.updateFaults([](auto& faults) { faults.unmountBeforeWrite = true; });
    rig.engine->confirm();
    ASSERT_TRUE(rig.waitLog("Unmount: " + rig.sim.bootloaderPath()));
    ASSERT_TRUE(rig.waitLog("fw update failed"));
    ASSERT_TRUE(rig.waitStatus(UpSta::failed));
    EXPECT_FALSE(rig.log.contains("file copied"));
    EXPECT_FALSE(controller.receivedFirmware().has_value());

    controller.setFaults({});
    controller.unplug();
    controller.plug();
    ASSERT_TRUE(test::waitUntil([&] { return rig.engine->controllerIdentified(); }));
    EXPECT_EQ(rig.state().sta, UpSta::failed);  // the update is not over
    rig.engine->acknowledgeFailure();
    EXPECT_TRUE(rig.state().finalStep);
    ASSERT_TRUE(rig.waitLog("update verified: 1.2"));
    EXPECT_EQ(controller.frameCount(sim::Command::finalStep), 2u);
    EXPECT_EQ(controller.receivedFirmware(), rig.builtInFirmware());
    EXPECT_EQ(controller.violationCount(), 0u);
}

TEST(UpdateFaults, TheReplugAlertAnsweredTooEarlyComesBack) {
    // The controller leaves the bus at the final step but shows its drive
    // only after a replug and another final step. A user who answers the
    // alert before replugging must be asked again, or the update waits forever.
    Rig rig(test::offline());
    auto& controller = rig.sim.controller();
    ASSERT_NO_FATAL_FAILURE(rig.prepareBuiltIn());
    controller.updateFaults([](auto& faults) { faults.loseFinalStep = true; });
    rig.engine->confirm();
    ASSERT_TRUE(rig.waitLog("image update done 0 [done]!!"));
    ASSERT_TRUE(test::waitUntil([&] { return !rig.state().attached; }));
    rig.sim.instantClock()->release();
    ASSERT_TRUE(test::waitUntil([&] { return rig.state().replugAlert; }));
    rig.engine->alerted();  // answered with the controller still unplugged
    EXPECT_FALSE(rig.state().replugAlert);
    ASSERT_TRUE(test::waitUntil([&] { return rig.state().replugAlert; }));

    controller.unplug();
    controller.plug();
    ASSERT_TRUE(test::waitUntil([&] { return rig.state().attached; }));
    rig.engine->alerted();
    ASSERT_TRUE(rig.waitLog("update verified: 1.2"));
    EXPECT_EQ(controller.frameCount(sim::Command::finalStep), 2u);
    EXPECT_EQ(controller.receivedFirmware(), rig.builtInFirmware());
}

TEST(UpdateFaults, AFullVolumeKeepsNoTruncatedFile) {
    std::string why;
    if (!sim::BootloaderVolume::canMountTmpfs(&why)) {
        GTEST_SKIP() << why;
    }
    sim::SimulatedPlatform::Options options = test::offline();
    options.tmpfsVolume = true;
    options.tmpfsBytes = 16 * 1024;  // the 64 KiB firmware cannot fit
    Rig rig(options);
    ASSERT_NO_FATAL_FAILURE(rig.prepareBuiltIn());
    rig.engine->confirm();
    ASSERT_TRUE(rig.waitLog("fw update failed"));
    EXPECT_LT(rig.log.indexOf("Mount: " + rig.sim.bootloaderPath()),
              rig.log.indexOf("copy file failed"));
    EXPECT_EQ(rig.state().sta, UpSta::failed);
    EXPECT_FALSE(rig.log.contains("file copied"));
    EXPECT_FALSE(fs::exists(rig.sim.bootloaderPath() + "/FW.bin"));
}

// Two bootloader volumes mounted at once (two controllers in bootloader mode):
// each copy goes to the volume whose mount started it, never both to the last.
TEST(UpdateFaults, TwoBootloaderVolumesEachGetTheirOwnCopy) {
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
    // Declared before the rig: the engine uses them until it is gone.
    TwoVolumes files;
    test::FakeVolumeWatcher volumes;
    Platform platform;
    Rig rig;
    const fs::path base = fs::path(rig.sim.bootloaderPath()).parent_path();
    files.points = {(base / "a" / "CRP DISABLE").string(), (base / "b" / "CRP DISABLE").string()};
    for (const std::string& point : files.points) {
        fs::create_directories(point);
    }
    platform = rig.sim.platform();
    platform.fileSystem = &files;
    platform.volumeWatcher = &volumes;
    platform.bootloaderMountPoints = files.points;
    // Nothing on HID and no network: the rig keeps its controller and reachability.
    platform.hidMonitorFactory = nullptr;
    platform.reachabilityFactory = nullptr;
    rig.start(&platform);
    volumes.mount(QString::fromStdString(files.points[0]));
    volumes.mount(QString::fromStdString(files.points[1]));
    ASSERT_TRUE(test::waitUntil([&] { return rig.log.count("fw update successed") == 2; }));
    for (const std::string& point : files.points) {
        EXPECT_EQ(test::readFile(point + "/FW.bin"), rig.builtInFirmware()) << point;
    }
}

// Image sizes at the edges of the frame arithmetic: frame counts, the bar, and
// the one-second pause before every ten-thousandth frame.
struct SizeCase {
    std::size_t length;
    std::size_t dataFrames;  // including the final frame
    int pauses;
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
    const Bytes image = test::patternBytes(c.length);
    rig.engine->takeRelease(UpMode::offline, {"1.3", ""}, image,
                            sim::makeReleaseFile(sim::FileKind::firmware, "1.3", 4096));
    const int secondsBefore = clock->sleepsOf(1.0);
    rig.progressValues.clear();
    rig.engine->confirm();
    ASSERT_TRUE(rig.waitLog("update verified: 1.3"));
    EXPECT_TRUE(rig.log.contains("data size: " + std::to_string(c.length) + " = N_chunks(" +
                                 std::to_string(c.length / 54) + ") * 54 + final(" +
                                 std::to_string(c.length % 54) + "), "));
    EXPECT_EQ(clock->sleepsOf(1.0) - secondsBefore, 35 + c.pauses);
    EXPECT_EQ(rig.sim.controller().dataFrameCount(), c.dataFrames);
    EXPECT_EQ(rig.sim.controller().receivedImage(), image);
    EXPECT_EQ(rig.sim.controller().violationCount(), 0u);
    // The bar: 1..35 for the erase seconds, rising through the data frames,
    // then 95 for the image sent, 96, 98 and 100 for the firmware write.
    const auto& values = rig.progressValues;
    ASSERT_TRUE(test::waitUntil(
        [&] { return std::find(values.begin(), values.end(), 100) != values.end(); }));
    const std::vector<int> bar(values.begin(), std::find(values.begin(), values.end(), 100) + 1);
    ASSERT_GE(bar.size(), 39u);
    for (int k = 1; k <= 35; ++k) {
        EXPECT_EQ(bar[k - 1], k);
    }
    EXPECT_EQ(std::vector<int>(bar.end() - 4, bar.end()), (std::vector<int>{95, 96, 98, 100}));
    EXPECT_TRUE(std::adjacent_find(bar.begin(), bar.end(), std::greater_equal<>()) == bar.end());
}

INSTANTIATE_TEST_SUITE_P(Transfer, ImageSizes,
                         ::testing::Values(SizeCase{0, 1, 0}, SizeCase{53, 1, 0},
                                           SizeCase{54, 2, 1}, SizeCase{108, 3, 1},
                                           SizeCase{540054, 10002, 2}),
                         [](const auto& info) { return "L" + std::to_string(info.param.length); });

TEST(Transfer, TheTimeLeftCountsThePausesBeforeEveryTenThousandthFrame) {
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

}  // namespace
}  // namespace tarvo
