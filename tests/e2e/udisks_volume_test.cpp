// The bootloader drive found through UDisks2 (served by dbusmock on a private
// bus) and written by the real window: where the desktop mounted it under
// another name, and where nothing mounted it and the tool had UDisks mount it.
#include <sys/mount.h>

#include <QDBusMessage>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "e2e/rig.h"
#include "support/private_bus.h"
#include "tcontroller/platform/linux/udisks_volume_watcher.h"

namespace tarvo {
namespace {

using namespace std::chrono_literals;

Bytes readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class UDisksVolume : public ::testing::TestWithParam<bool> {
  protected:
    void TearDown() override {
        for (const char* name : {"CRP DISABLE", "CRP DISABLE1"}) {
            ::umount2(QDir(dir_.path()).filePath(name).toLocal8Bit().constData(), MNT_DETACH);
        }
    }
    QDBusMessage mock(const char* method, const QVariantList& args) {
        return bus_.mock("org.freedesktop.UDisks2", "/org/freedesktop/UDisks2", method, args);
    }

    test::PrivateBus bus_;
    QTemporaryDir dir_;
};

// A controller that arrives in bootloader mode is recovered with the built-in
// release onto its drive, wherever that drive ends up mounted.
TEST_P(UDisksVolume, TheBootloaderDriveIsWrittenWhereverItIsMounted) {
    const bool desktopMounts = GetParam();
    std::string why;
    if (!bus_.ready()) {
        GTEST_SKIP() << bus_.skipReason();
    }
    if (!sim::BootloaderVolume::canMountTmpfs(&why)) {
        GTEST_SKIP() << why;
    }
    ASSERT_TRUE(bus_.serve(TARVO_TEST_DBUS_DIR "/udisks2.py", "org.freedesktop.UDisks2",
                           QString(R"({"mount_root": "%1"})").arg(dir_.path())))
        << bus_.skipReason();
    test::Rig rig;
    UDisksVolumeWatcher udisks(bus_.bus(), {kBootloaderLabel, 200ms, 10s});
    PosixFileSystem files;
    Platform platform = rig.sim.platform();
    platform.volumeWatcher = &udisks;
    platform.fileSystem = &files;
    platform.hidMonitorFactory = nullptr;
    platform.reachabilityFactory = nullptr;
    ViewController vc(platform);
    vc.viewDidLoad();

    mock("AddDrive", {"sdc", "CRP DISABLE", "usb"});
    // "CRP DISABLE" was taken by a stale folder, so the desktop used the next name.
    const std::filesystem::path elsewhere =
        std::filesystem::path(dir_.path().toStdString()) / "CRP DISABLE1";
    if (desktopMounts) {
        std::filesystem::create_directories(elsewhere);
        ASSERT_EQ(::mount("tarvo-udisks", elsewhere.c_str(), "tmpfs", 0, "size=1m"), 0);
        mock("SetMountPoint", {"sdc", QString::fromStdString(elsewhere.string())});
    }
    ASSERT_TRUE(rig.waitLog("fw update successed"));
    const std::filesystem::path volume =
        desktopMounts ? elsewhere
                      : std::filesystem::path(dir_.path().toStdString()) / "CRP DISABLE";
    EXPECT_TRUE(rig.log.contains("Mount: " + volume.string()));
    EXPECT_EQ(readFile(volume / "FW.bin"), rig.builtInFirmware());
    EXPECT_EQ(bus_.calls("org.freedesktop.UDisks2", "Mount").size(), desktopMounts ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(UDisks, UDisksVolume, ::testing::Bool(), [](const auto& info) {
    return info.param ? "MountedByTheDesktopElsewhere" : "MountedByTheTool";
});

// USB sticks that UDisks reports with the label, mounted by the desktop: one
// holding its owner's file (false), one of 64 MiB (true). Neither is written.
TEST_P(UDisksVolume, AStickWithTheLabelIsNotWritten) {
    const bool large = GetParam();
    std::string why;
    if (!bus_.ready()) {
        GTEST_SKIP() << bus_.skipReason();
    }
    if (!sim::BootloaderVolume::canMountTmpfs(&why)) {
        GTEST_SKIP() << why;
    }
    ASSERT_TRUE(bus_.serve(TARVO_TEST_DBUS_DIR "/udisks2.py", "org.freedesktop.UDisks2",
                           QString(R"({"mount_root": "%1"})").arg(dir_.path())))
        << bus_.skipReason();
    test::Rig rig;
    UDisksVolumeWatcher udisks(bus_.bus(), {kBootloaderLabel, 200ms, 10s});
    PosixFileSystem files;
    Platform platform = rig.sim.platform();
    platform.volumeWatcher = &udisks;
    platform.fileSystem = &files;
    platform.hidMonitorFactory = nullptr;
    platform.reachabilityFactory = nullptr;
    ViewController vc(platform);
    vc.viewDidLoad();

    const std::filesystem::path stick =
        std::filesystem::path(dir_.path().toStdString()) / "CRP DISABLE";
    std::filesystem::create_directories(stick);
    ASSERT_EQ(::mount("tarvo-udisks", stick.c_str(), "tmpfs", 0, large ? "size=64m" : "size=1m"),
              0);
    const Bytes mine(2000, 0x42);
    {
        std::ofstream out(stick / (large ? "firmware.bin" : "report.pdf"), std::ios::binary);
        out.write(reinterpret_cast<const char*>(mine.data()), static_cast<long>(mine.size()));
    }
    mock("AddDrive", {"sdd", "CRP DISABLE", "usb"});
    mock("SetMountPoint", {"sdd", QString::fromStdString(stick.string())});
    ASSERT_TRUE(rig.waitLog("not the controller's drive: " + stick.string() + ": " +
                            (large ? "it holds 64 MiB; the controller's drive holds at most 8 MiB"
                                   : "it holds other files, such as \"report.pdf\"")));
    test::pump(200);
    EXPECT_FALSE(rig.log.contains("fw update successed"));
    EXPECT_FALSE(std::filesystem::exists(stick / "FW.bin"));
    EXPECT_EQ(readFile(stick / (large ? "firmware.bin" : "report.pdf")), mine);
}

}  // namespace
}  // namespace tarvo
