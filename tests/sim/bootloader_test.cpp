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

// Runs a complete image stage and the final step on an attached controller.
void imageStageAndFinalStep(ControllerRun& run) {
    auto device = run.plugAndWait();
    ASSERT_TRUE(device);
    Bytes image(300, 0x5A);
    for (const auto& f : frames::transfer(image)) {
        ASSERT_TRUE(send(device, f).ok());
    }
    ASSERT_TRUE(send(device, frames::finalStep()).ok());
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
    imageStageAndFinalStep(run);
    ASSERT_TRUE(run.vc.waitUntilDisconnected());
    EXPECT_FALSE(run.vc.waitUntilBootloaderMounted(ms(300)));
    // A replug brings it back on its old firmware with the image in flash...
    run.vc.unplug();
    auto device = run.plugAndWait();
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

TEST(SimVolumeWatcher, DeliversInOrderOnItsOwnThreadOnlyWhileStarted) {
    tarvo::sim::SimVolumeWatcher watcher;
    std::mutex mutex;
    std::vector<std::pair<std::string, std::thread::id>> seen;
    auto record = [&](const char* kind) {
        return [&, kind](const QVariant& o) {
            std::lock_guard<std::mutex> hold(mutex);
            seen.emplace_back(kind + o.toMap().value("NSDevicePath").toString().toStdString(),
                              std::this_thread::get_id());
        };
    };
    QObject::connect(&watcher, &tarvo::VolumeWatcher::didMount, &watcher, record("+"),
                     Qt::DirectConnection);
    QObject::connect(&watcher, &tarvo::VolumeWatcher::didUnmount, &watcher, record("-"),
                     Qt::DirectConnection);
    watcher.announceMount("/before");
    ASSERT_TRUE(watcher.start().ok());
    watcher.announceMount("/media/CRP DISABLE");
    watcher.announceUnmount("/media/CRP DISABLE");
    watcher.announceMount("/x");
    ASSERT_TRUE(watcher.waitUntilDelivered(tarvo::sim::VirtualController::kWait));
    watcher.stop();
    watcher.announceMount("/after");

    std::lock_guard<std::mutex> hold(mutex);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].first, "+/media/CRP DISABLE");
    EXPECT_EQ(seen[1].first, "-/media/CRP DISABLE");
    EXPECT_EQ(seen[2].first, "+/x");
    EXPECT_NE(seen[0].second, std::this_thread::get_id());
}
