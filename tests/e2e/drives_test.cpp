// Drives under the tool, as real tmpfs (and ext4) mounts. A USB drive that
// only carries the bootloader's label "CRP DISABLE" is never written. And the
// firmware write when the controller's drive misbehaves: its flush fails (an
// ext4 on a loop device whose backing store is full), or it vanishes without
// any unmount notice before or during the write. Each must end as a failed
// write that leaves no FW.bin behind and touches nothing of the computer's own
// folders.
#include <sys/mount.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "e2e/rig.h"
#include "support/temp_files.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

// No controller and no update: a drive that appears with the bootloader's
// label but holds its owner's files is left alone, and told. (One with the
// controller's drive's shape is recovered: BuiltInRelease in update_test.cpp,
// and the desktop's "CRP DISABLE1" in udisks_volume_test.cpp.)
TEST(Drives, ALookalikeDriveIsLeftAloneAndTold) {
    TARVO_SKIP_WITHOUT_TMPFS();
    test::Rig rig;
    rig.start();
    const fs::path drive = fs::path(rig.sim.bootloaderPath()).parent_path() / "CRP DISABLE1";
    test::TmpfsMount tmpfs(drive, "size=1m");
    ASSERT_TRUE(tmpfs.mounted()) << tmpfs.reason();
    const Bytes userBytes = test::patternBytes(4000);
    const Bytes oldFirmware = Bytes(300, 0x5A);
    test::writeFile(drive / "firmware.bin", oldFirmware);
    test::writeFile(drive / "holiday photos.txt", userBytes);
    fs::create_directories(drive / ".Trash-1000");  // a desktop's, on every drive
    rig.sim.volumeWatcher().announceMount(drive.string(), kBootloaderLabel);

    const std::string refusal = "it holds other files, such as \"holiday photos.txt\"";
    ASSERT_TRUE(rig.waitLog("not the controller's drive: " + drive.string() + ": " + refusal));
    const std::string note = "A drive named \"CRP DISABLE\" was found at " + drive.string() +
                             ", but it does not look like the controller (" + refusal +
                             "). Nothing was written to it.";
    ASSERT_TRUE(test::waitUntil([&] { return rig.state().foreignDriveNote == note; }))
        << rig.state().foreignDriveNote;
    test::pump(200);  // anything queued for the drive would have run by now
    EXPECT_TRUE(rig.log.withPrefix("Mount: ").empty());
    EXPECT_EQ(std::tuple(rig.state().sta, rig.state().mode),
              std::tuple(test::UpSta::none, test::UpMode::none));
    EXPECT_FALSE(fs::exists(drive / "FW.bin"));
    EXPECT_EQ(test::readFile(drive / "firmware.bin"), oldFirmware);
    EXPECT_EQ(test::readFile(drive / "holiday photos.txt"), userBytes);
    // Once the drive is gone the engine stops speaking of it, and its unmount
    // is not taken for the controller's (an update waiting for the drive
    // would fail).
    rig.sim.volumeWatcher().announceUnmount(drive.string(), kBootloaderLabel);
    ASSERT_TRUE(test::waitUntil([&] { return rig.state().foreignDriveNote.empty(); }));
    EXPECT_TRUE(rig.log.withPrefix("Unmount: ").empty());
}

// Runs a shell command and returns its first line of output, or nothing when
// it failed.
std::optional<std::string> run(const std::string& command) {
    std::FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) {
        return std::nullopt;
    }
    char line[512] = {};
    const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
    if (::pclose(pipe) != 0) {
        return std::nullopt;
    }
    std::string out = got ? line : "";
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) {
        out.pop_back();
    }
    return out;
}

// The engine with the test's own volume notifications and file system (see
// Rig::startOnDrives): the drive that appears is recovered with the built-in
// release, and each fault must fail that write.
class FirmwareWrite : public ::testing::Test {
  protected:
    // The real file system; `vanish`: the drive is unmounted, without
    // notice, as soon as FW.bin has been created on it.
    struct Files : PosixFileSystem {
        fs::path volume;
        bool vanish = false;
        Result<void> createFile(const std::string& path, const Bytes& contents) override {
            Result<void> written = PosixFileSystem::createFile(path, contents);
            if (vanish) {
                ::umount2(volume.c_str(), MNT_DETACH);
            }
            return written;
        }
    };

    void SetUp() override {
        TARVO_SKIP_WITHOUT_TMPFS();
        // The computer's own disk is a small tmpfs here, so a write that
        // lands on it instead of the drive is not refused for its size.
        disk_.emplace(dir_.path().toStdString() + "/disk", "size=4m");
        ASSERT_TRUE(disk_->mounted()) << disk_->reason();
        files_.volume = dir_.path().toStdString() + "/disk/CRP DISABLE";
        fs::create_directories(files_.volume);
    }
    void start() {
        rig_.startOnDrives(volumes_, files_, {files_.volume.string()});
        volumes_.mount(QString::fromStdString(files_.volume.string()), "usb");
    }
    void expectFailedWithoutFirmware() {
        ASSERT_TRUE(rig_.waitLog("fw update failed"));
        test::pump(100);
        EXPECT_FALSE(rig_.log.contains("file copied"));
        EXPECT_FALSE(fs::exists(files_.volume / "FW.bin"));
    }

    QTemporaryDir dir_;
    std::optional<test::TmpfsMount> disk_;
    test::FakeVolumeWatcher volumes_;  // before the rig: its engine uses them until it goes
    Files files_;
    test::Rig rig_;
};

// A flush that fails is a failed write: the bytes never reached the drive.
TEST_F(FirmwareWrite, AFailingFlushFailsTheWrite) {
    // An ext4 of 6 MiB in a sparse file on a 2 MiB tmpfs that is all but
    // full: writes go to memory and succeed, the flush cannot store them.
    const fs::path backing = dir_.path().toStdString() + "/backing";
    test::TmpfsMount backingDrive(backing, "size=2m");
    ASSERT_TRUE(backingDrive.mounted()) << backingDrive.reason();
    const fs::path image = backing / "drive.img";
    fs::resize_file((std::ofstream(image), image), 6u << 20);
    std::optional<std::string> loop;
    if (!run("mkfs.ext4 -q -F -O ^has_journal '" + image.string() + "'") ||
        !(loop = run("losetup -f --show '" + image.string() + "'")) || loop->empty()) {
        GTEST_SKIP() << "no mkfs.ext4 or no free loop device";
    }
    const fs::path& volume = files_.volume;
    const bool mounted = ::mount(loop->c_str(), volume.c_str(), "ext4", 0, nullptr) == 0;
    if (mounted) {
        fs::remove(volume / "lost+found");
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
        start();
        expectFailedWithoutFirmware();
        EXPECT_EQ(rig_.log.withPrefix("could not write FW.bin: ").size(), 1u);
        rig_.owned.reset();
        ::umount2(volume.c_str(), 0);
    }
    run("losetup -d " + *loop);
    ASSERT_TRUE(mounted) << "cannot mount the ext4 drive";
}

// The drive is gone (no unmount notice came) by the time the copy starts: its
// mount point is a plain folder of the computer, whose files are not touched.
TEST_F(FirmwareWrite, ADriveGoneBeforeTheWriteIsNotWritten) {
    // What lies under the mount point, hidden while the drive is mounted.
    const Bytes mine(500, 0x33);
    test::writeFile(files_.volume / "firmware.bin", mine);
    test::TmpfsMount drive(files_.volume, "size=1m");
    ASSERT_TRUE(drive.mounted());
    start();
    // The copy is queued for the main thread; the drive leaves before it runs.
    ASSERT_EQ(::umount2(files_.volume.c_str(), MNT_DETACH), 0);
    expectFailedWithoutFirmware();
    EXPECT_TRUE(rig_.log.withPrefix("Remove successfully").empty());
    EXPECT_EQ(test::readFile(files_.volume / "firmware.bin"), mine);
}

// The drive goes away while FW.bin is written: the write does not count, and
// the mount point (now the computer's folder) is left without FW.bin.
TEST_F(FirmwareWrite, ADriveGoneDuringTheWriteFailsIt) {
    files_.vanish = true;
    test::TmpfsMount drive(files_.volume, "size=1m");
    ASSERT_TRUE(drive.mounted());
    start();
    expectFailedWithoutFirmware();
    EXPECT_TRUE(rig_.log.contains("volume went away while writing"));
}

}  // namespace
}  // namespace tarvo
