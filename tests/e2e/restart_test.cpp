// A tool that is closed after the image was sent, while the controller goes
// into its bootloader: the next start finds the controller's drive and
// finishes that update with that release's firmware, checked against its
// digest, and verifies the version; a damaged record falls back to the
// built-in release and says why.
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

#include "e2e/rig.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;
using test::UpMode;

class Restart : public ::testing::TestWithParam<bool> {};

TEST_P(Restart, AfterTheFinalStepFinishesTheUpdateWithItsRelease) {
    const bool damaged = GetParam();
    QTemporaryDir state;
    sim::SimulatedPlatform::Options options;
    options.pendingDir = state.filePath("pending").toStdString();
    Bytes firmware13;
    {
        test::Rig before(options);
        before.publishDefault();
        firmware13 = *before.sim.server().firmwareFile("1.3");
        // The controller leaves HID for its bootloader, and the tool is gone
        // before its drive appears.
        before.sim.controller().updateFaults(
            [](auto& faults) { faults.mountAfterFinalStep = false; });
        ASSERT_TRUE(before.startIdle());
        before.sim.instantClock()->holdSleepsOfAtLeast(5.0);
        ASSERT_TRUE(before.prepareNewest());
        ASSERT_EQ(before.state().mode, UpMode::online);
        before.engine->confirm();
        ASSERT_TRUE(test::waitUntil([&] { return before.state().finalStep; }));
    }  // closed: its queues end their waits, and the engine goes
    ASSERT_TRUE(fs::exists(options.pendingDir + "/release"));
    if (damaged) {
        std::fstream file(options.pendingDir + "/firmware.bin",
                          std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(100);
        file.put('\x7F');
    }

    test::Rig after(options);
    after.publishDefault();
    after.sim.controller().startInBootloader();
    after.start();
    const std::string version = damaged ? "1.2" : "1.3";
    ASSERT_TRUE(after.waitLog("update verified: " + version));
    if (damaged) {
        EXPECT_TRUE(
            after.log.contains("the interrupted update cannot be finished: " + options.pendingDir +
                               "/firmware.bin does not match its SHA-256; writing the "
                               "built-in release"));
        EXPECT_EQ(after.sim.controller().receivedFirmware(), after.builtInFirmware());
    } else {
        EXPECT_TRUE(after.log.contains("finishing the interrupted update to 1.3"));
        EXPECT_EQ(after.sim.controller().receivedFirmware(), firmware13);
    }
    // The update has ended: a later start has nothing to finish.
    EXPECT_FALSE(fs::exists(options.pendingDir + "/release"));
}

INSTANTIATE_TEST_SUITE_P(Restart, Restart, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Damaged" : "Kept"; });

}  // namespace
}  // namespace tarvo
