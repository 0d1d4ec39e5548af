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

// A tmpfs of `megabytes` at `path`, unmounted again at the end of the test.
class TmpfsDrive {
  public:
    TmpfsDrive(fs::path path, int megabytes) : path_(std::move(path)) {
        fs::create_directories(path_);
        const std::string size = "size=" + std::to_string(megabytes) + "m";
        mounted_ = ::mount("tarvo-test", path_.c_str(), "tmpfs", 0, size.c_str()) == 0;
    }
    ~TmpfsDrive() { ::umount2(path_.c_str(), MNT_DETACH); }
    bool mounted() const { return mounted_; }

  private:
    fs::path path_;
    bool mounted_ = false;
};

void writeFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

struct Shape {
    const char* name;
    const char* userFile;  // a file of the drive's owner, or none
    const char* refusal;   // the log's reason, or none when it is the controller's shape
};

void PrintTo(const Shape& shape, std::ostream* out) {
    *out << shape.name;
}

class LookalikeDrive : public ::testing::TestWithParam<Shape> {};

// No controller and no update: a drive that appears with the label is written
// with the built-in release only when it has the controller's drive's shape.
TEST_P(LookalikeDrive, IsRecoveredOnlyWithTheControllersShape) {
    const Shape shape = GetParam();
    std::string why;
    if (!sim::BootloaderVolume::canMountTmpfs(&why)) {
        GTEST_SKIP() << why;
    }
    test::Rig rig;
    rig.start();
    const fs::path drive = fs::path(rig.sim.bootloaderPath()).parent_path() / "CRP DISABLE1";
    TmpfsDrive tmpfs(drive, 1);
    ASSERT_TRUE(tmpfs.mounted());
    const Bytes userBytes = test::patternBytes(4000);
    const Bytes oldFirmware = Bytes(300, 0x5A);
    writeFile(drive / "firmware.bin", oldFirmware);
    if (shape.userFile != nullptr) {
        writeFile(drive / shape.userFile, userBytes);
    }
    fs::create_directories(drive / ".Trash-1000");  // a desktop's, on every drive
    rig.sim.volumeWatcher().announceMount(drive.string(), kBootloaderLabel);

    if (shape.refusal == nullptr) {
        ASSERT_TRUE(rig.waitLog("fw update successed"));
        EXPECT_EQ(test::readFile(drive / "FW.bin"), rig.builtInFirmware());
        EXPECT_FALSE(fs::exists(drive / "firmware.bin"));
        return;
    }
    ASSERT_TRUE(
        rig.waitLog("not the controller's drive: " + drive.string() + ": " + shape.refusal));
    const std::string note = "A drive named \"CRP DISABLE\" was found at " + drive.string() +
                             ", but it does not look like the controller (" + shape.refusal +
                             "). Nothing was written to it.";
    ASSERT_TRUE(test::waitUntil([&] { return rig.state().foreignDriveNote == note; }))
        << rig.state().foreignDriveNote;
    test::pump(200);  // anything queued for the drive would have run by now
    EXPECT_TRUE(rig.log.withPrefix("Mount: ").empty());
    EXPECT_FALSE(rig.log.contains("fw update successed"));
    EXPECT_EQ(rig.state().sta, test::UpSta::none);
    EXPECT_EQ(rig.state().mode, test::UpMode::none);
    EXPECT_FALSE(fs::exists(drive / "FW.bin"));
    EXPECT_EQ(test::readFile(drive / "firmware.bin"), oldFirmware);
    EXPECT_EQ(test::readFile(drive / shape.userFile), userBytes);
    // Once the drive is gone the engine stops speaking of it, and its unmount
    // is not taken for the controller's (an update waiting for the drive
    // would fail).
    rig.sim.volumeWatcher().announceUnmount(drive.string(), kBootloaderLabel);
    ASSERT_TRUE(test::waitUntil([&] { return rig.state().foreignDriveNote.empty(); }));
    EXPECT_TRUE(rig.log.withPrefix("Unmount: ").empty());
}

INSTANTIATE_TEST_SUITE_P(
    Drives, LookalikeDrive,
    ::testing::Values(Shape{"UsersFile", "holiday photos.txt",
                            "it holds other files, such as \"holiday photos.txt\""},
                      Shape{"ControllersShape", nullptr, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

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

// The engine on the simulated platform's services, with the test's own
// volume notifications and file system: nothing on HID, no network. A drive
// that appears is recovered with the built-in release.
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
        std::string why;
        if (!sim::BootloaderVolume::canMountTmpfs(&why)) {
            GTEST_SKIP() << why;
        }
        // The computer's own disk is a small tmpfs here, so a write that
        // lands on it instead of the drive is not refused for its size.
        disk_.emplace(dir_.path().toStdString() + "/disk", 4);
        ASSERT_TRUE(disk_->mounted());
        files_.volume = dir_.path().toStdString() + "/disk/CRP DISABLE";
        fs::create_directories(files_.volume);
    }
    void TearDown() override { engine_.reset(); }
    void start() {
        platform_ = rig_.sim.platform();
        platform_.volumeWatcher = &volumes_;
        platform_.fileSystem = &files_;
        platform_.bootloaderMountPoints = {files_.volume.string()};
        platform_.hidMonitorFactory = nullptr;
        platform_.reachabilityFactory = nullptr;
        engine_ = std::make_unique<UpdateEngine>(platform_);
        engine_->start();
        volumes_.mount(QString::fromStdString(files_.volume.string()), "usb");
    }
    void expectFailedWithoutFirmware() {
        ASSERT_TRUE(rig_.waitLog("fw update failed"));
        test::pump(100);
        EXPECT_FALSE(rig_.log.contains("file copied"));
        EXPECT_FALSE(rig_.log.contains("fw update successed"));
        EXPECT_FALSE(fs::exists(files_.volume / "FW.bin"));
    }

    QTemporaryDir dir_;
    std::optional<TmpfsDrive> disk_;
    test::Rig rig_;
    test::FakeVolumeWatcher volumes_;
    Files files_;
    Platform platform_;  // the engine keeps a reference to it
    std::unique_ptr<UpdateEngine> engine_;
};

// A flush that fails is a failed write: the bytes never reached the drive.
TEST_F(FirmwareWrite, AFailingFlushFailsTheWrite) {
    // An ext4 of 6 MiB in a sparse file on a 2 MiB tmpfs that is all but
    // full: writes go to memory and succeed, the flush cannot store them.
    const fs::path backing = dir_.path().toStdString() + "/backing";
    TmpfsDrive backingDrive(backing, 2);
    ASSERT_TRUE(backingDrive.mounted());
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
        engine_.reset();
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
    writeFile(files_.volume / "firmware.bin", mine);
    TmpfsDrive drive(files_.volume, 1);
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
    TmpfsDrive drive(files_.volume, 1);
    ASSERT_TRUE(drive.mounted());
    start();
    expectFailedWithoutFirmware();
    EXPECT_TRUE(rig_.log.contains("volume went away while writing"));
}

}  // namespace
}  // namespace tarvo
