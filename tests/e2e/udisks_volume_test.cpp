// The bootloader drive found through UDisks2 (served by dbusmock on a private
// bus) and written by the engine: where the desktop mounted it under
// another name, and where nothing mounted it and the tool had UDisks mount it.
#include <sys/mount.h>

#include <QDBusMessage>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "e2e/rig.h"
#include "support/private_bus.h"
#include "support/temp_files.h"
#include "tcontroller/platform/linux/udisks_volume_watcher.h"

namespace tarvo {
namespace {

using namespace std::chrono_literals;

class UDisksVolume : public ::testing::TestWithParam<bool> {
  protected:
    void TearDown() override {
        rig_.reset();
        udisks_.reset();
        for (const char* name : {"CRP DISABLE", "CRP DISABLE1"}) {
            ::umount2(QDir(dir_.path()).filePath(name).toLocal8Bit().constData(), MNT_DETACH);
        }
    }
    QDBusMessage mock(const char* method, const QVariantList& args) {
        return bus_.mock("org.freedesktop.UDisks2", "/org/freedesktop/UDisks2", method, args);
    }
    // The engine on the simulated platform with UDisks (dbusmock, mounting
    // under dir_) as its volume watcher and the real file system; nothing on
    // HID, no network. False, saying why, when the machine cannot run it.
    bool startEngine(std::string* why) {
        if (!bus_.ready()) {
            *why = bus_.skipReason();
            return false;
        }
        if (!sim::BootloaderVolume::canMountTmpfs(why)) {
            return false;
        }
        if (!bus_.serve(TARVO_TEST_DBUS_DIR "/udisks2.py", "org.freedesktop.UDisks2",
                        QString(R"({"mount_root": "%1"})").arg(dir_.path()))) {
            ADD_FAILURE() << bus_.skipReason();
            *why = bus_.skipReason();
            return false;
        }
        // The drive "sdc" hangs on USB port 4-2 of a sysfs tree of its own.
        const std::filesystem::path sysfs = std::filesystem::path(sysfs_.path().toStdString());
        const std::filesystem::path disk =
            sysfs /
            "devices/pci0000:00/0000:00:14.0/usb4/4-2/4-2:1.0/host3/target3:0:0/"
            "3:0:0:0/block/sdc";
        std::filesystem::create_directories(disk);
        std::filesystem::create_directories(sysfs / "class/block");
        std::filesystem::create_directory_symlink(disk, sysfs / "class/block/sdc");
        udisks_ = std::make_unique<UDisksVolumeWatcher>(
            bus_.bus(), UDisksVolumeWatcher::Options{kBootloaderLabel, 200ms, 10s, sysfs.string()});
        QObject::connect(
            udisks_.get(), &VolumeWatcher::didMount, udisks_.get(),
            [this](const QVariant& info) {
                const QString port = info.toMap().value(kVolumeUsbPortKey).toString();
                ports_.mutate([&](auto& all) { all.push_back(port.toStdString()); });
            },
            Qt::DirectConnection);
        rig_ = std::make_unique<test::Rig>();
        rig_->startOnDrives(*udisks_, files_);
        return true;
    }

    test::PrivateBus bus_;
    QTemporaryDir dir_;
    QTemporaryDir sysfs_;
    Guarded<std::vector<std::string>> ports_;  // of the mounts reported
    std::unique_ptr<UDisksVolumeWatcher> udisks_;
    PosixFileSystem files_;
    std::unique_ptr<test::Rig> rig_;
};

// A controller that arrives in bootloader mode is recovered with the built-in
// release onto its drive, wherever that drive ends up mounted.
TEST_P(UDisksVolume, TheBootloaderDriveIsWrittenWhereverItIsMounted) {
    const bool desktopMounts = GetParam();
    std::string why;
    if (!startEngine(&why)) {
        GTEST_SKIP() << why;
    }
    test::Rig& rig = *rig_;

    mock("AddDrive", {"sdc", "CRP DISABLE", "usb"});
    // "CRP DISABLE" was taken by a stale folder, so the desktop used the next name.
    const std::filesystem::path elsewhere =
        std::filesystem::path(dir_.path().toStdString()) / "CRP DISABLE1";
    std::optional<test::TmpfsMount> desktops;
    if (desktopMounts) {
        desktops.emplace(elsewhere, "size=1m");
        ASSERT_TRUE(desktops->mounted()) << desktops->reason();
        mock("SetMountPoint", {"sdc", QString::fromStdString(elsewhere.string())});
    }
    ASSERT_TRUE(rig.waitLog("fw update successed"));
    const std::filesystem::path volume =
        desktopMounts ? elsewhere
                      : std::filesystem::path(dir_.path().toStdString()) / "CRP DISABLE";
    EXPECT_TRUE(rig.log.contains("Mount: " + volume.string()));
    EXPECT_EQ(test::readFile(volume / "FW.bin"), rig.builtInFirmware());
    EXPECT_EQ(bus_.calls("org.freedesktop.UDisks2", "Mount").size(), desktopMounts ? 0 : 1);
    // The mount is told with the USB port of its drive.
    EXPECT_EQ(ports_.get(), std::vector<std::string>{"4-2"});
}

INSTANTIATE_TEST_SUITE_P(UDisks, UDisksVolume, ::testing::Bool(), [](const auto& info) {
    return info.param ? "MountedByTheDesktopElsewhere" : "MountedByTheTool";
});

}  // namespace
}  // namespace tarvo
