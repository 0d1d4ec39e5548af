#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "harness.h"
#include "sim/firmware_format.h"
#include "sim/simulated_platform.h"

using tarvo::Bytes;
using tarvo::sim::BootloaderVolume;
using tarvo::sim::DeviceFault;
using tarvo::sim::FileKind;
using tarvo::sim::makeReleaseFile;
using tarvo::sim::ViolationKind;
using Faults = tarvo::sim::VirtualController::Faults;
using ms = std::chrono::milliseconds;

namespace {

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
}

}  // namespace

TEST(Bootloader, RejectsBadFirmwareFilesAndStaysMounted) {
    ControllerRun run;
    run.vc.startInBootloader();
    run.run();
    ASSERT_TRUE(run.vc.waitUntilBootloaderMounted());
    const std::string fw = run.vc.volumePath() + "/FW.bin";
    const Bytes good = makeReleaseFile(FileKind::firmware, "1.4", 2048);
    const std::vector<Bytes> bad = {
        Bytes(good.begin(), good.begin() + 1000),       // truncated
        makeReleaseFile(FileKind::image, "1.4", 2048),  // the image file instead
        Bytes(2048, 0x00),                              // garbage
    };
    for (std::size_t i = 0; i < bad.size(); ++i) {
        writeFile(fw, bad[i]);
        ASSERT_TRUE(run.vc.waitUntilViolations(i + 1));
        EXPECT_EQ(run.vc.violations().back().kind, ViolationKind::firmware);
        EXPECT_TRUE(run.vc.isBootloaderMounted());
        EXPECT_FALSE(run.vc.receivedFirmware());
    }
    EXPECT_EQ(run.vc.connectedNotifications(), 0u);

    // A later good copy (the alert's retry) still completes the update.
    writeFile(fw, good);
    ASSERT_TRUE(run.vc.waitUntilBackOnHid());
    EXPECT_EQ(run.vc.config().versionChars, "140");
    EXPECT_EQ(run.vc.violationCount(), bad.size());
}

TEST(Bootloader, ALostFinalStepIsSpentByTheReplug) {
    ControllerRun run;
    run.vc.setFaults(Faults::of(DeviceFault::loseFinalStep));
    run.run();
    auto device = run.plugAndWait();
    ASSERT_TRUE(device);
    for (const auto& f : frames::transfer(Bytes(300, 0x5A))) {
        ASSERT_TRUE(send(device, f).ok());
    }
    ASSERT_TRUE(send(device, frames::finalStep()).ok());
    ASSERT_TRUE(run.vc.waitUntilDisconnected());
    EXPECT_FALSE(run.vc.waitUntilBootloaderMounted(ms(300)));
    // A replug brings it back on its old firmware with the image in flash...
    run.vc.unplug();
    device = run.plugAndWait();
    ASSERT_TRUE(device);
    EXPECT_EQ(run.vc.config().versionChars, "110");
    EXPECT_TRUE(run.vc.imageComplete());
    // ...and the fault is spent: the next final step mounts the volume.
    ASSERT_TRUE(send(device, frames::finalStep()).ok());
    ASSERT_TRUE(run.vc.waitUntilBootloaderMounted());
    writeFile(run.vc.volumePath() + "/FW.bin", makeReleaseFile(FileKind::firmware, "1.4", 2048));
    ASSERT_TRUE(run.vc.waitUntilBackOnHid());
    EXPECT_EQ(run.vc.config().versionChars, "140");
    EXPECT_EQ(run.vc.violationCount(), 0u);
}
