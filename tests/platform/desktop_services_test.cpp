// The desktop's D-Bus services, each against its service served by dbusmock on
// a private bus: the login manager's inhibitor, the notification server, and
// UDisks2 finding (and mounting) the bootloader drive by its label.
#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusMessage>
#include <algorithm>
#include <filesystem>
#include <mutex>

#include "scratch.h"
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

// The inhibitors the login manager holds now, as (what, mode).
std::vector<std::pair<QString, QString>> inhibitors(QDBusConnection& bus) {
    const QDBusMessage reply = bus.call(
        QDBusMessage::createMethodCall("org.freedesktop.login1", "/org/freedesktop/login1",
                                       "org.freedesktop.login1.Manager", "ListInhibitors"));
    std::vector<std::pair<QString, QString>> out;
    if (reply.type() != QDBusMessage::ReplyMessage) {
        return out;
    }
    const QDBusArgument arg = reply.arguments().front().value<QDBusArgument>();
    arg.beginArray();
    while (!arg.atEnd()) {
        QString what, who, why, mode;
        uint uid = 0, pid = 0;
        arg.beginStructure();
        arg >> what >> who >> why >> mode >> uid >> pid;
        arg.endStructure();
        out.emplace_back(what, mode);
    }
    arg.endArray();
    return out;
}

// Without a login manager taking the lock is an error, not a hang; with one,
// a single block lock is held until it is released.
TEST(SleepInhibitor, HoldsOneBlockLockUntilReleased) {
    PrivateBus bus;
    if (!bus.ready()) {
        GTEST_SKIP() << bus.skipReason();
    }
    LogindSleepInhibitor inhibitor(bus.bus());
    const Result<void> absent = inhibitor.inhibit();
    EXPECT_FALSE(absent.ok());
    EXPECT_NE(absent.error.find("login manager"), std::string::npos) << absent.error;
    EXPECT_FALSE(inhibitor.held());

    ASSERT_TRUE(bus.serve("logind", "org.freedesktop.login1")) << bus.skipReason();
    ASSERT_TRUE(inhibitor.inhibit().ok());
    ASSERT_TRUE(inhibitor.inhibit().ok());  // held already: no second lock
    EXPECT_TRUE(inhibitor.held());
    const auto held = inhibitors(bus.bus());
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(held[0].first, "sleep:shutdown:idle");
    EXPECT_EQ(held[0].second, "block");
    EXPECT_EQ(bus.calls("org.freedesktop.login1", "Inhibit").size(), 1);
    inhibitor.release();
    EXPECT_FALSE(inhibitor.held());
    // The login manager sees the descriptor closed and drops the lock.
    EXPECT_TRUE(waitUntil([&] { return inhibitors(bus.bus()).empty(); }));
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

// What a volume watcher reported, taken on the watcher's own thread: "mount
// PATH" and "failed LABEL: REASON".
class Reports {
  public:
    explicit Reports(VolumeWatcher& watcher) {
        QObject::connect(
            &watcher, &VolumeWatcher::didMount, &watcher,
            [this](const QVariant& info) {
                add("mount " + info.toMap().value(kVolumePathKey).toString());
            },
            Qt::DirectConnection);
        QObject::connect(
            &watcher, &VolumeWatcher::mountFailed, &watcher,
            [this](const QString& label, const QString& reason) {
                add("failed " + label + ": " + reason);
            },
            Qt::DirectConnection);
    }
    std::vector<std::string> events() const {
        std::lock_guard<std::mutex> hold(mutex_);
        return events_;
    }

  private:
    void add(const QString& event) {
        std::lock_guard<std::mutex> hold(mutex_);
        events_.push_back(event.toStdString());
    }
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
};

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
    Reports reports(watcher);
    ASSERT_TRUE(watcher.start().ok());
    mock("AddDrive", {"sdb", "BACKUP", "usb"});
    mock("AddDrive", {"sda", "CRP DISABLE", "ata"});
    mock("SetMountPoint", {"sdb", "/media/u/BACKUP"});
    mock("SetMountPoint", {"sda", "/media/u/CRP DISABLE"});
    mock("AddDrive", {"sdc", "CRP DISABLE", "usb"});
    mock("RemoveDrive", {"sdc"});
    test::pump(1200);  // three times the mount delay
    EXPECT_TRUE(reports.events().empty());
    EXPECT_EQ(mountCalls(), 0);

    mock("AddDrive", {"sdd", "CRP DISABLE", "usb"});
    ASSERT_TRUE(waitUntil([&] { return !reports.events().empty(); }));
    test::pump(100);
    const auto events = reports.events();
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
    Reports reports(watcher);
    ASSERT_TRUE(watcher.start().ok());
    const std::filesystem::path point = dir_.path() / "CRP DISABLE";
    test::TmpfsMount mount(point, "size=64k");
    if (!mount.mounted()) {
        GTEST_SKIP() << mount.reason();
    }
    // The mount table is the whole machine's: other tests' mounts may show too.
    const auto reported = [&] {
        const auto all = reports.events();
        return std::count(all.begin(), all.end(), "mount " + point.string());
    };
    ASSERT_TRUE(waitUntil([&] { return reported() > 0; }));
    test::pump(100);
    EXPECT_EQ(reported(), 1);
}

}  // namespace
}  // namespace tarvo
