// Whole updates through the engine's commands, from the first request to the
// verified version, against the virtual controller, the loopback firmware
// server and a bootloader volume, on the instant clock; and how each fault of
// the controller or its drive ends them.
#include <filesystem>

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
    if (c == BuiltIn::tmpfs) {
        TARVO_SKIP_WITHOUT_TMPFS();
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
    // A recovery found in the bootloader is an update like any other: no
    // sleep while its firmware is written, and the desktop told its end.
    expectSessionEnded(rig, true);
    // The version verified is told until the controller goes.
    EXPECT_EQ(rig.state().verifiedVersion, "1.2");
    controller.unplug();
    ASSERT_TRUE(test::waitUntil([&] { return !rig.state().attached; }));
    EXPECT_EQ(rig.state().verifiedVersion, "");
}

std::string builtInName(const ::testing::TestParamInfo<BuiltIn>& info) {
    static const char* const names[] = {"Folder", "Tmpfs", "BootloaderAtStart", "BootloaderLater"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Update, BuiltInRelease,
                         ::testing::Values(BuiltIn::folder, BuiltIn::tmpfs,
                                           BuiltIn::bootloaderAtStart, BuiltIn::bootloaderLater),
                         builtInName);

// Every fault ends failed, never as a success that was not written.
void expectFailedNotWritten(Rig& rig) {
    ASSERT_TRUE(rig.waitStatus(UpSta::failed));
    test::pump(100);
    EXPECT_FALSE(rig.sim.controller().receivedFirmware().has_value());
    expectSessionEnded(rig, false);
}

// OK after a failure goes back to the idle state.
void expectOkResets(Rig& rig) {
    rig.engine->acknowledgeFailure();
    const UpdateSnapshot s = rig.state();
    EXPECT_EQ(std::tuple(s.sta, s.mode, s.failureNote), std::tuple(UpSta::none, UpMode::none, ""));
}

// Unplugged during the erase wait and plugged back in before the next check:
// the attempt fails, and nothing after the erase reaches the controller that
// came back (it was not erased in this attempt). Unplugged alone: the demo's
// unplug_in_erase run.
TEST(UpdateFaults, AReplugDuringTheEraseWaitFailsTheAttempt) {
    Rig rig(test::offline());
    auto& controller = rig.sim.controller();
    ASSERT_NO_FATAL_FAILURE(rig.prepareBuiltIn());
    // The first erase second is held, so the cable is pulled and put back
    // while the transfer waits, as it would be in real time.
    auto* clock = rig.sim.instantClock();
    clock->holdSleepsOfAtLeast(1.0);
    rig.engine->confirm();
    ASSERT_TRUE(test::waitUntil([&] { return clock->heldSleepers() == 1; }));
    EXPECT_TRUE(rig.sim.sleepInhibitor().held());  // from the erase on
    ASSERT_TRUE(rig.replug());
    clock->release();
    ASSERT_NO_FATAL_FAILURE(expectFailedNotWritten(rig));
    EXPECT_EQ(controller.frameCount(sim::Command::begin), 0u);
    EXPECT_EQ(controller.frameCount(sim::Command::finalStep), 0u);
    EXPECT_TRUE(contains(rig.state().failureNote, "Step that failed: erase."));
    expectOkResets(rig);
}

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
    ASSERT_TRUE(rig.replug());
    rig.engine->takeRelease(UpMode::offline, {"1.3", ""}, std::nullopt, std::nullopt);
    rig.engine->confirm();
    ASSERT_TRUE(rig.waitStatus(UpSta::failed));
    EXPECT_FALSE(contains(rig.state().failureNote, "Step that failed")) << rig.state().failureNote;
    expectOkResets(rig);
}

sim::VirtualController::Faults failWritesAfter(std::size_t frames) {
    sim::VirtualController::Faults faults;
    faults.failWritesAfterDataFrames = frames;
    return faults;
}

INSTANTIATE_TEST_SUITE_P(
    UpdateFaults, StageFailure,
    ::testing::Values(
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
    EXPECT_FALSE(controller.receivedFirmware().has_value());

    controller.setFaults({});
    ASSERT_TRUE(rig.replug());
    EXPECT_EQ(rig.state().sta, UpSta::failed);  // the update is not over
    rig.engine->acknowledgeFailure();
    EXPECT_TRUE(rig.state().finalStep);
    ASSERT_TRUE(rig.waitLog("update verified: 1.2"));
    EXPECT_EQ(controller.frameCount(sim::Command::finalStep), 2u);
    EXPECT_EQ(controller.receivedFirmware(), rig.builtInFirmware());
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
    Rig rig;
    const fs::path base = fs::path(rig.sim.bootloaderPath()).parent_path();
    files.points = {(base / "a" / "CRP DISABLE").string(), (base / "b" / "CRP DISABLE").string()};
    for (const std::string& point : files.points) {
        fs::create_directories(point);
    }
    rig.startOnDrives(volumes, files, files.points);
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
    ASSERT_TRUE(rig.startIdle());
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
                         ::testing::Values(SizeCase{0, 1, 0}, SizeCase{54, 2, 1},
                                           SizeCase{540054, 10002, 2}),
                         [](const auto& info) { return "L" + std::to_string(info.param.length); });

}  // namespace
}  // namespace tarvo
