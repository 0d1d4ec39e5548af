#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "harness.h"
#include "sim/firmware_format.h"

using tarvo::Bytes;
using tarvo::kHIDReturnSuccess;
using tarvo::sim::BootloaderVolume;
using tarvo::sim::FileKind;
using tarvo::sim::makeReleaseFile;
using tarvo::sim::ViolationKind;
namespace fs = std::filesystem;
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
        ASSERT_EQ(send(device, f), kHIDReturnSuccess);
    }
    ASSERT_EQ(send(device, frames::finalStep()), kHIDReturnSuccess);
}

// Whether `path` is a tmpfs mount point in this process's mount table.
bool isTmpfsMount(const std::string& path) {
    std::string escaped;
    for (char c : path) {
        escaped += c == ' ' ? std::string("\\040") : std::string(1, c);
    }
    std::ifstream table("/proc/self/mountinfo");
    for (std::string line; std::getline(table, line);) {
        if (line.find(" " + escaped + " ") != std::string::npos &&
            line.find(" - tmpfs ") != std::string::npos) {
            return true;
        }
    }
    return false;
}

}  // namespace

TEST(Bootloader, RoundTripInDirectoryModeComesBackWithTheNewVersion) {
    ControllerRun run;
    run.vc.setOldFirmwareOnVolume(true);
    run.run();
    imageStageAndFinalStep(run);
    ASSERT_TRUE(run.vc.waitUntilDisconnected());
    ASSERT_TRUE(run.vc.waitUntilBootloaderMounted());
    ASSERT_TRUE(run.watcher.waitUntilDelivered(ms(5000)));
    const std::string volume = run.vc.volumePath();
    EXPECT_TRUE(fs::exists(volume + "/firmware.bin"));
    ASSERT_EQ(run.eventsOf(Event::mount).size(), 1u);
    EXPECT_EQ(run.eventsOf(Event::mount)[0].path, volume);

    // The tool's steps: delete both old files, create FW.bin in one pass.
    fs::remove(volume + "/firmware.bin");
    const Bytes firmware = makeReleaseFile(FileKind::firmware, "1.3", 3000);
    writeFile(volume + "/FW.bin", firmware);

    ASSERT_TRUE(run.vc.waitUntilBackOnHid());
    EXPECT_EQ(run.vc.receivedFirmware(), firmware);
    EXPECT_EQ(run.vc.versionChars(), "130");
    EXPECT_FALSE(fs::exists(volume));
    ASSERT_TRUE(run.watcher.waitUntilDelivered(ms(5000)));
    ASSERT_EQ(run.eventsOf(Event::unmount).size(), 1u);
    EXPECT_EQ(run.eventsOf(Event::unmount)[0].path, volume);

    // Identified again, it reports the firmware it was given.
    auto device = run.lastConnected();
    ASSERT_EQ(send(device, frames::version()), kHIDReturnSuccess);
    ASSERT_TRUE(run.vc.waitUntilReplies(1));
    const Bytes reply = run.eventsOf(Event::data).at(0).bytes;
    EXPECT_EQ(Bytes(reply.begin() + 5, reply.begin() + 8), Bytes({'1', '3', '0'}));
    const auto hid = run.eventsOf(Event::connected);
    ASSERT_EQ(hid.size(), 2u);
    EXPECT_NE(hid[0].device, hid[1].device);
    EXPECT_EQ(run.vc.violationCount(), 0u);
}

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
    EXPECT_EQ(run.vc.versionChars(), "140");
    EXPECT_EQ(run.vc.violationCount(), bad.size());
}

TEST(Bootloader, FaultsNoMountAndEarlyUnmount) {
    {
        ControllerRun run;
        run.vc.setMountAfterFinalStep(false);
        run.run();
        imageStageAndFinalStep(run);
        ASSERT_TRUE(run.vc.waitUntilDisconnected());
        EXPECT_FALSE(run.vc.waitUntilBootloaderMounted(ms(300)));
        EXPECT_EQ(run.vc.mountCount(), 0u);
        EXPECT_TRUE(run.eventsOf(Event::mount).empty());
    }
    {
        ControllerRun run;
        run.vc.setUnmountBeforeWrite(true);
        run.run();
        imageStageAndFinalStep(run);
        ASSERT_TRUE(run.vc.waitUntil([&] { return run.vc.mountCount() == 1; }, ms(5000)));
        ASSERT_TRUE(run.watcher.waitUntilDelivered(ms(5000)));
        const auto all = run.events();
        ASSERT_GE(all.size(), 2u);
        EXPECT_EQ(all[all.size() - 2].type, Event::mount);
        EXPECT_EQ(all.back().type, Event::unmount);
        EXPECT_FALSE(run.vc.isBootloaderMounted());
        EXPECT_FALSE(fs::exists(run.vc.volumePath()));  // a write there now fails
    }
}

TEST(Bootloader, TmpfsVolumeIsARealMount) {
    std::string reason;
    if (!BootloaderVolume::canMountTmpfs(&reason)) {
        GTEST_SKIP() << reason;
    }
    const fs::path base =
        fs::temp_directory_path() / ("tarvo-tmpfs-test-" + std::to_string(::getpid()));
    const std::string point = (base / "CRP DISABLE").string();
    {
        ControllerRun run;
        run.vc.useTmpfsVolume(point, 16 * 1024);
        run.vc.startInBootloader();
        run.run();
        ASSERT_TRUE(run.vc.waitUntilBootloaderMounted());
        EXPECT_TRUE(isTmpfsMount(point));

        // A file larger than the volume: the write runs out of space, and the
        // partial file is rejected.
        writeFile(point + "/FW.bin", makeReleaseFile(FileKind::firmware, "1.5", 64 * 1024));
        ASSERT_TRUE(run.vc.waitUntilViolations(1));
        EXPECT_EQ(run.vc.violations().back().kind, ViolationKind::firmware);
        EXPECT_TRUE(isTmpfsMount(point));

        fs::remove(point + "/FW.bin");
        const Bytes firmware = makeReleaseFile(FileKind::firmware, "1.5", 8 * 1024);
        writeFile(point + "/FW.bin", firmware);
        ASSERT_TRUE(run.vc.waitUntilBackOnHid());
        EXPECT_EQ(run.vc.receivedFirmware(), firmware);
        EXPECT_FALSE(isTmpfsMount(point));
    }
    std::error_code ignored;
    fs::remove_all(base, ignored);
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
    ASSERT_TRUE(watcher.start());
    watcher.announceMount("/media/CRP DISABLE");
    watcher.announceUnmount("/media/CRP DISABLE");
    watcher.announceMount("/x");
    ASSERT_TRUE(watcher.waitUntilDelivered(ms(5000)));
    watcher.stop();
    watcher.announceMount("/after");

    std::lock_guard<std::mutex> hold(mutex);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].first, "+/media/CRP DISABLE");
    EXPECT_EQ(seen[1].first, "-/media/CRP DISABLE");
    EXPECT_EQ(seen[2].first, "+/x");
    EXPECT_NE(seen[0].second, std::this_thread::get_id());
}
