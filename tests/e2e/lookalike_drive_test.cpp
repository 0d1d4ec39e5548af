// A USB drive that only carries the bootloader's label "CRP DISABLE" is never
// written: not when it appears on its own (the recovery of a controller in
// bootloader mode), and not when it is mounted while an update waits for the
// controller's drive. Real tmpfs mounts stand for the drives.
#include <sys/mount.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "e2e/rig.h"
#include "support/temp_files.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;
using test::UpMode;
using test::UpSta;

void writeFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// A tmpfs of `megabytes` at `path`, unmounted again at the end of the test.
class TmpfsDrive {
  public:
    TmpfsDrive(fs::path path, int megabytes) : path_(std::move(path)) {
        fs::create_directories(path_);
        const std::string size = "size=" + std::to_string(megabytes) + "m";
        mounted_ = ::mount("tarvo-lookalike", path_.c_str(), "tmpfs", 0, size.c_str()) == 0;
    }
    ~TmpfsDrive() {
        if (mounted_) {
            ::umount2(path_.c_str(), MNT_DETACH);
        }
    }
    bool mounted() const { return mounted_; }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
    bool mounted_ = false;
};

struct Shape {
    const char* name;
    int megabytes;
    const char* userFile;  // a file of the drive's owner, or none
    const char* refusal;   // the log's reason, or none when it is the controller's shape
};

void PrintTo(const Shape& shape, std::ostream* out) {
    *out << shape.name;
}

std::string refusalLine(const fs::path& drive, const std::string& why) {
    return "not the controller's drive: " + drive.string() + ": " + why;
}

class LookalikeDrive : public ::testing::TestWithParam<Shape> {};

// No controller and no update: a drive that appears with the label is written
// with the built-in release only when it has the controller's drive's shape.
TEST_P(LookalikeDrive, AloneIsRecoveredOnlyWithTheControllersShape) {
    const Shape shape = GetParam();
    std::string why;
    if (!sim::BootloaderVolume::canMountTmpfs(&why)) {
        GTEST_SKIP() << why;
    }
    test::Rig rig;
    rig.start();
    const fs::path drive = fs::path(rig.sim.bootloaderPath()).parent_path() / "CRP DISABLE1";
    TmpfsDrive tmpfs(drive, shape.megabytes);
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
    ASSERT_TRUE(rig.waitLog(refusalLine(drive, shape.refusal)));
    const std::string note = "A drive named \"CRP DISABLE\" was found at " + drive.string() +
                             ", but it does not look like the controller (" + shape.refusal +
                             "). Nothing was written to it.";
    ASSERT_TRUE(test::waitUntil([&] { return rig.state().foreignDriveNote == note; }))
        << rig.state().foreignDriveNote;
    test::pump(200);  // anything queued for the drive would have run by now
    EXPECT_TRUE(rig.log.withPrefix("Mount: ").empty());
    EXPECT_FALSE(rig.log.contains("fw update successed"));
    EXPECT_EQ(rig.state().sta, UpSta::none);
    EXPECT_EQ(rig.state().mode, UpMode::none);
    EXPECT_FALSE(fs::exists(drive / "FW.bin"));
    EXPECT_EQ(test::readFile(drive / "firmware.bin"), oldFirmware);
    if (shape.userFile != nullptr) {
        EXPECT_EQ(test::readFile(drive / shape.userFile), userBytes);
    }
    // Once the drive is gone the engine stops speaking of it, and its unmount
    // is not taken for the controller's.
    rig.sim.volumeWatcher().announceUnmount(drive.string(), kBootloaderLabel);
    ASSERT_TRUE(test::waitUntil([&] { return rig.state().foreignDriveNote.empty(); }));
    EXPECT_TRUE(rig.log.withPrefix("Unmount: ").empty());
}

INSTANTIATE_TEST_SUITE_P(
    Drives, LookalikeDrive,
    ::testing::Values(Shape{"UsersFile", 1, "holiday photos.txt",
                            "it holds other files, such as \"holiday photos.txt\""},
                      Shape{"SixtyFourMiB", 64, nullptr,
                            "it holds 64 MiB; the controller's drive holds at most 8 MiB"},
                      Shape{"ControllersShape", 1, nullptr, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

// A USB stick with the label is mounted while the update waits for the
// controller's drive: the firmware goes to the controller's drive only, the
// stick keeps its file byte for byte, and its unmount does not fail the update.
TEST(LookalikeDrive, MountedDuringAnUpdateIsLeftAlone) {
    std::string why;
    if (!sim::BootloaderVolume::canMountTmpfs(&why)) {
        GTEST_SKIP() << why;
    }
    test::Rig rig(test::offline());
    ASSERT_NO_FATAL_FAILURE(rig.prepareBuiltIn());

    const fs::path stick = fs::path(rig.sim.bootloaderPath()).parent_path() / "CRP DISABLE1";
    TmpfsDrive tmpfs(stick, 1);
    ASSERT_TRUE(tmpfs.mounted());
    const Bytes userBytes = test::patternBytes(5000);
    writeFile(stick / "notes.txt", userBytes);
    rig.sim.volumeWatcher().announceMount(stick.string(), kBootloaderLabel);
    ASSERT_TRUE(rig.waitLog(refusalLine(stick, "it holds other files, such as \"notes.txt\"")));

    rig.engine->confirm();  // erase, image, final step, the controller's drive
    ASSERT_TRUE(rig.waitLog("image update done 0 [done]!!"));
    rig.sim.volumeWatcher().announceUnmount(stick.string(), kBootloaderLabel);
    ASSERT_TRUE(rig.waitLog("update verified: 1.2"));
    EXPECT_EQ(rig.log.withPrefix("Mount: "),
              std::vector<std::string>{"Mount: " + rig.sim.bootloaderPath()});
    EXPECT_EQ(rig.sim.controller().receivedFirmware(), rig.builtInFirmware());
    EXPECT_EQ(test::readFile(stick / "notes.txt"), userBytes);
    EXPECT_FALSE(fs::exists(stick / "FW.bin"));
    EXPECT_FALSE(rig.log.contains("fw update failed"));
}

}  // namespace
}  // namespace tarvo
