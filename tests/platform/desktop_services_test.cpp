// The desktop's D-Bus services, each against its service served by dbusmock on
// a private bus: the login manager's inhibitor, the notification server, and
// UDisks2 finding (and mounting) the bootloader drive by its label.
#include <gtest/gtest.h>

#include <QDBusMessage>
#include <algorithm>
#include <filesystem>

#include "support/private_bus.h"
#include "support/temp_files.h"
#include "tcontroller/platform/fallback_volume_watcher.h"
#include "tcontroller/platform/linux/freedesktop_notifier.h"
#include "tcontroller/platform/linux/logind_sleep_inhibitor.h"
#include "tcontroller/platform/linux/mount_volume_watcher.h"
#include "tcontroller/platform/linux/udisks_volume_watcher.h"

namespace tarvo {
namespace {

using namespace std::chrono_literals;
using test::PrivateBus;
using test::waitUntil;

// Without a login manager taking the lock is an error, not a hang; with one,
// a single block lock is taken, however often it is asked for. (That it is
// given back: the demo's sleep_inhibitor run.)
TEST(SleepInhibitor, TakesOneBlockLock) {
    PrivateBus bus;
    if (!bus.ready()) {
        GTEST_SKIP() << bus.skipReason();
    }
    LogindSleepInhibitor inhibitor(bus.bus());
    const Result<void> absent = inhibitor.inhibit();
    EXPECT_NE(absent.error.find("login manager"), std::string::npos) << absent.error;
    EXPECT_FALSE(inhibitor.held());

    ASSERT_TRUE(bus.serve("logind", "org.freedesktop.login1")) << bus.skipReason();
    ASSERT_TRUE(inhibitor.inhibit().ok());
    ASSERT_TRUE(inhibitor.inhibit().ok());  // held already: no second lock
    const QStringList calls = bus.calls("org.freedesktop.login1", "Inhibit");
    ASSERT_EQ(calls.size(), 1);
    EXPECT_TRUE(calls.front().contains(R"("sleep:shutdown:idle")") &&
                calls.front().endsWith(R"("block")"))
        << calls.front().toStdString();
    inhibitor.release();
    EXPECT_FALSE(inhibitor.held());
}

TEST(Notifier, SendsSummaryBodyIconAndDesktopEntry) {
    PrivateBus bus;
    if (!bus.ready()) {
        GTEST_SKIP() << bus.skipReason();
    }
    ASSERT_TRUE(bus.serve("notification_daemon", "org.freedesktop.Notifications"))
        << bus.skipReason();
    FreedesktopNotifier notifier(bus.bus(), "Tarvo Remote Firmware Update",
                                 "com.tarvo.RemoteFirmwareUpdate");
    notifier.notify({"Update failed", "The controller was unplugged.", true});
    ASSERT_TRUE(
        waitUntil([&] { return !bus.calls("org.freedesktop.Notifications", "Notify").isEmpty(); }));
    const QString call = bus.calls("org.freedesktop.Notifications", "Notify").front();
    EXPECT_TRUE(
        call.contains(R"("Tarvo Remote Firmware Update" 0 "com.tarvo.RemoteFirmwareUpdate")"))
        << call.toStdString();
    EXPECT_TRUE(call.contains(R"("Update failed" "The controller was unplugged.")"))
        << call.toStdString();
    EXPECT_TRUE(call.contains(R"("desktop-entry": "com.tarvo.RemoteFirmwareUpdate")"))
        << call.toStdString();
    EXPECT_TRUE(call.contains(R"("urgency": 2)")) << call.toStdString();
}

// UDisks2 with drives added and removed by the test; its Mount() is refused.
class UDisks : public ::testing::Test {
  protected:
    bool serve() {
        return bus_.ready() &&
               bus_.serve(TARVO_TEST_DBUS_DIR "/udisks2.py", "org.freedesktop.UDisks2",
                          QString(R"({"mount_root": "%1", "mount": "refuse"})")
                              .arg(QString::fromStdString(dir_.path().string())));
    }
    QDBusMessage mock(const char* method, const QVariantList& args) {
        return bus_.mock("org.freedesktop.UDisks2", "/org/freedesktop/UDisks2", method, args);
    }
    UDisksVolumeWatcher::Options options(std::chrono::milliseconds mountAfter = 100ms) {
        return {"CRP DISABLE", mountAfter, 10s};
    }
    int mountCalls() { return bus_.calls("org.freedesktop.UDisks2", "Mount").size(); }

    PrivateBus bus_;
    test::TempDir dir_;
};

// Drives the bootloader volume is not: another label, or the right label on
// an internal disk. Neither is reported nor mounted; the bootloader drive
// that appears and leaves again before the mount delay is not mounted either.
// The one that stays is mounted, and the refusal is reported with its reason.
TEST_F(UDisks, OnlyALabelledUsbDriveThatStaysIsMountedAndARefusalIsReported) {
    if (!serve()) {
        GTEST_SKIP() << bus_.skipReason();
    }
    UDisksVolumeWatcher watcher(bus_.bus(), options(400ms));
    test::VolumeEvents reports(watcher);
    ASSERT_TRUE(watcher.start().ok());
    mock("AddDrive", {"sdb", "BACKUP", "usb"});
    mock("AddDrive", {"sda", "CRP DISABLE", "ata"});
    mock("SetMountPoint", {"sdb", "/media/u/BACKUP"});
    mock("SetMountPoint", {"sda", "/media/u/CRP DISABLE"});
    mock("AddDrive", {"sdc", "CRP DISABLE", "usb"});
    mock("RemoveDrive", {"sdc"});
    test::pump(1200);  // three times the mount delay
    EXPECT_TRUE(reports.all().empty());
    EXPECT_EQ(mountCalls(), 0);

    mock("AddDrive", {"sdd", "CRP DISABLE", "usb"});
    ASSERT_TRUE(waitUntil([&] { return !reports.all().empty(); }));
    test::pump(100);
    const auto events = reports.all();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events.front().rfind("failed CRP DISABLE: Not authorized", 0), 0u) << events.front();
    EXPECT_EQ(mountCalls(), 1);
}

// Without UDisks on the bus, the mount table at the known paths is watched.
TEST_F(UDisks, AbsentUDisksFallsBackToTheMountTable) {
    if (!bus_.ready()) {
        GTEST_SKIP() << bus_.skipReason();
    }
    UDisksVolumeWatcher udisks(bus_.bus(), options());
    MountVolumeWatcher table;
    FallbackVolumeWatcher watcher(udisks, table);
    test::VolumeEvents reports(watcher);
    ASSERT_TRUE(watcher.start().ok());
    const std::filesystem::path point = dir_.path() / "CRP DISABLE";
    test::TmpfsMount mount(point, "size=64k");
    if (!mount.mounted()) {
        GTEST_SKIP() << mount.reason();
    }
    // The mount table is the whole machine's: other tests' mounts may show too.
    ASSERT_TRUE(waitUntil([&] { return reports.count("mount " + point.string()) > 0; }));
    test::pump(100);
    EXPECT_EQ(reports.count("mount " + point.string()), 1);
}

}  // namespace
}  // namespace tarvo
