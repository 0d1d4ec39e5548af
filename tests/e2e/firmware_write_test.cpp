// The firmware write when the drive misbehaves underneath the tool: its flush
// fails (a real ext4 on a loop device whose backing store is full), or it
// vanishes without any unmount notice before or during the write. Each must
// end as a failed write that leaves no FW.bin behind and touches nothing of
// the computer's own folders.
#include <sys/mount.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "e2e/rig.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

// Runs a shell command and returns its first line of output, or nothing when
// it failed.
std::optional<std::string> run(const std::string& command) {
    std::FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) {
        return std::nullopt;
    }
    char line[512] = {};
    const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
    const int status = ::pclose(pipe);
    if (status != 0) {
        return std::nullopt;
    }
    std::string out = got ? line : "";
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) {
        out.pop_back();
    }
    return out;
}

bool mountTmpfs(const fs::path& at, const char* size) {
    fs::create_directories(at);
    return ::mount("tarvo-write-test", at.c_str(), "tmpfs", 0, size) == 0;
}

// The engine on the simulated platform's services, with the test's own
// volume notifications and file system: nothing on HID, no network. A drive
// that appears is recovered with the built-in release.
class FirmwareWrite : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        if (!sim::BootloaderVolume::canMountTmpfs(&why)) {
            GTEST_SKIP() << why;
        }
        // The computer's own disk is a small tmpfs here, so a write that
        // lands on it instead of the drive is not refused for its size.
        disk_ = fs::path(dir_.path().toStdString()) / "disk";
        ASSERT_TRUE(mountTmpfs(disk_, "size=4m"));
        volume_ = disk_ / "CRP DISABLE";
        fs::create_directories(volume_);
    }
    void TearDown() override {
        engine_.reset();
        for (const fs::path& point : {volume_, disk_}) {
            ::umount2(point.c_str(), MNT_DETACH);
        }
    }
    void start(FileSystem& files) {
        platform_ = rig_.sim.platform();
        platform_.volumeWatcher = &volumes_;
        platform_.fileSystem = &files;
        platform_.bootloaderMountPoints = {volume_.string()};
        platform_.hidMonitorFactory = nullptr;
        platform_.reachabilityFactory = nullptr;
        engine_ = std::make_unique<UpdateEngine>(platform_);
        engine_->start();
    }
    void expectFailedWithoutFirmware() {
        ASSERT_TRUE(rig_.waitLog("fw update failed"));
        test::pump(100);
        EXPECT_FALSE(rig_.log.contains("file copied"));
        EXPECT_FALSE(rig_.log.contains("fw update successed"));
        EXPECT_FALSE(fs::exists(volume_ / "FW.bin"));
    }

    QTemporaryDir dir_;
    fs::path disk_;
    fs::path volume_;
    test::Rig rig_;
    test::FakeVolumeWatcher volumes_;
    Platform platform_;  // the engine keeps a reference to it
    std::unique_ptr<UpdateEngine> engine_;
};

// A flush that fails is a failed write: the bytes never reached the drive.
TEST_F(FirmwareWrite, AFailingFlushFailsTheWrite) {
    // An ext4 of 6 MiB in a sparse file on a 2 MiB tmpfs that is all but
    // full: writes go to memory and succeed, the flush cannot store them.
    const fs::path backing = fs::path(dir_.path().toStdString()) / "backing";
    ASSERT_TRUE(mountTmpfs(backing, "size=2m"));
    const fs::path image = backing / "drive.img";
    fs::resize_file((std::ofstream(image), image), 6u << 20);
    std::optional<std::string> loop;
    if (!run("mkfs.ext4 -q -F -O ^has_journal '" + image.string() + "'") ||
        !(loop = run("losetup -f --show '" + image.string() + "'")) || loop->empty()) {
        ::umount2(backing.c_str(), MNT_DETACH);
        GTEST_SKIP() << "no mkfs.ext4 or no free loop device";
    }
    const bool mounted = ::mount(loop->c_str(), volume_.c_str(), "ext4", 0, nullptr) == 0;
    if (mounted) {
        fs::remove(volume_ / "lost+found");
        ::sync();
        // Every page of the backing tmpfs taken: the drive's next block has
        // nowhere to go.
        std::FILE* filler = std::fopen((backing / "filler").c_str(), "wb");
        ASSERT_NE(filler, nullptr);
        const std::string block(4096, 'x');
        while (std::fwrite(block.data(), 1, block.size(), filler) == block.size() &&
               std::fflush(filler) == 0) {
        }
        std::fclose(filler);
    }
    PosixFileSystem files;
    if (mounted) {
        start(files);
        volumes_.mount(QString::fromStdString(volume_.string()), "usb");
        expectFailedWithoutFirmware();
        EXPECT_EQ(rig_.log.withPrefix("could not write FW.bin: ").size(), 1u);
        engine_.reset();
        ::umount2(volume_.c_str(), 0);
    }
    run("losetup -d " + *loop);
    ::umount2(backing.c_str(), MNT_DETACH);
    ASSERT_TRUE(mounted) << "cannot mount the ext4 drive";
}

// The drive is gone (no unmount notice came) by the time the copy starts: its
// mount point is a plain folder of the computer, whose files are not touched.
TEST_F(FirmwareWrite, ADriveGoneBeforeTheWriteIsNotWritten) {
    // What lies under the mount point, hidden while the drive is mounted.
    const Bytes mine(500, 0x33);
    std::ofstream(volume_ / "firmware.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(mine.data()), static_cast<long>(mine.size()));
    ASSERT_TRUE(mountTmpfs(volume_, "size=1m"));
    PosixFileSystem files;
    start(files);
    volumes_.mount(QString::fromStdString(volume_.string()), "usb");
    // The copy is queued for the main thread; the drive leaves before it runs.
    ASSERT_EQ(::umount2(volume_.c_str(), MNT_DETACH), 0);
    expectFailedWithoutFirmware();
    EXPECT_TRUE(rig_.log.withPrefix("Remove successfully").empty());
    EXPECT_EQ(fs::file_size(volume_ / "firmware.bin"), mine.size());
}

// The drive goes away while FW.bin is written: the write does not count, and
// the mount point (now the computer's folder) is left without FW.bin.
TEST_F(FirmwareWrite, ADriveGoneDuringTheWriteFailsIt) {
    struct VanishingDrive : PosixFileSystem {
        fs::path volume;
        Result<void> createFile(const std::string& path, const Bytes& contents) override {
            Result<void> written = PosixFileSystem::createFile(path, contents);
            ::umount2(volume.c_str(), MNT_DETACH);
            return written;
        }
    } files;
    files.volume = volume_;
    ASSERT_TRUE(mountTmpfs(volume_, "size=1m"));
    start(files);
    volumes_.mount(QString::fromStdString(volume_.string()), "usb");
    expectFailedWithoutFirmware();
    EXPECT_TRUE(rig_.log.contains("volume went away while writing"));
}

}  // namespace
}  // namespace tarvo
