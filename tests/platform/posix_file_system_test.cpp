#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>

#include "support/temp_files.h"
#include "tcontroller/platform/linux/posix_file_system.h"
#include "tcontroller/platform/platform.h"

namespace tarvo {
namespace {

class PosixFileSystemTest : public ::testing::Test {
  protected:
    test::TempDir dir_;
    std::string file_ = dir_.path() / "FW.bin";
    PosixFileSystem fs_;
};

TEST_F(PosixFileSystemTest, CreateFileWritesExactlyTheBytesAndFailuresCarryTheSystemText) {
    const Bytes firmware = test::patternBytes(300 * 1024 + 7);
    ASSERT_TRUE(fs_.createFile(file_, firmware).ok());
    EXPECT_EQ(test::readFile(file_), firmware);
    const std::string empty = dir_.path() / "empty.bin";
    ASSERT_TRUE(fs_.createFile(empty, {}).ok());
    EXPECT_TRUE(fs_.exists(empty));
    EXPECT_TRUE(test::readFile(empty).empty());
    EXPECT_EQ(fs_.createFile(dir_.path() / "missing" / "FW.bin", test::patternBytes(16)).error,
              "No such file or directory");
}

// Whatever appeared at the path after the caller's delete is left exactly as it
// is: never replaced, never removed, and a symlink is never followed off the
// volume.
TEST_F(PosixFileSystemTest, CreateFileNeverReplacesOrFollowsAnEntryInTheWay) {
    namespace fs = std::filesystem;
    const fs::path absent = dir_.path() / "outside" / "absent";
    struct Case {
        const char* name;
        std::function<void()> make;
    };
    const Case cases[] = {
        {"regular file", [&] { std::ofstream(file_) << "older firmware"; }},
        {"symlink to a file that does not exist", [&] { fs::create_symlink(absent, file_); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.make();
        const auto before = fs::symlink_status(file_).type();
        const Result<void> created = fs_.createFile(file_, test::patternBytes(16));
        EXPECT_FALSE(created.ok());
        EXPECT_EQ(created.error, "File exists");
        EXPECT_EQ(fs::symlink_status(file_).type(), before);
        if (before == fs::file_type::regular) {
            EXPECT_EQ(test::readFile(file_), bytesFromString("older firmware"));
        }
        EXPECT_FALSE(fs::exists(absent));
        fs::remove(file_);
    }
}

TEST_F(PosixFileSystemTest, FullVolumeFailsAndLeavesNoPartialFile) {
    const std::filesystem::path volume = dir_.path() / "CRP DISABLE";
    test::TmpfsMount mount(volume, "size=64k");
    if (!mount.mounted()) {
        GTEST_SKIP() << mount.reason();
    }
    const std::string file = volume / "FW.bin";
    const Result<void> tooLarge = fs_.createFile(file, test::patternBytes(256 * 1024));
    EXPECT_FALSE(tooLarge.ok());
    EXPECT_EQ(tooLarge.error, "No space left on device");
    EXPECT_FALSE(fs_.exists(file)) << "a truncated firmware file was left on the volume";
    // The space is free again: a file that fits is written whole.
    ASSERT_TRUE(fs_.createFile(file, test::patternBytes(32 * 1024)).ok());
    EXPECT_EQ(test::readFile(file), test::patternBytes(32 * 1024));
}

// What is read of a mounted drive decides whether it is taken for the
// controller's: a tmpfs has its own size, and no USB port behind it. (Its
// names: Drives.ALookalikeDriveIsLeftAloneAndTold.)
TEST_F(PosixFileSystemTest, DescribeVolumeReadsSizeAndBus) {
    const std::filesystem::path volume = dir_.path() / "CRP DISABLE";
    test::TmpfsMount mount(volume, "size=2m");
    if (!mount.mounted()) {
        GTEST_SKIP() << mount.reason();
    }
    Result<VolumeFacts> facts = fs_.describeVolume(volume);
    ASSERT_TRUE(facts.ok()) << facts.error;
    EXPECT_EQ(facts.value->totalBytes, 2u << 20);
    EXPECT_EQ(facts.value->bus, "");
    EXPECT_EQ(checkBootloaderDrive(*facts.value).mismatch, DriveMismatch::notUsb);
    EXPECT_EQ(fs_.describeVolume(dir_.path() / "absent").error, "No such file or directory");
}

TEST(BootloaderDrive, ShapeRules) {
    const auto verdict = [](std::uint64_t bytes, std::vector<std::string> names) {
        return checkBootloaderDrive({"usb", bytes, std::move(names)});
    };
    // FAT shows names in the case they were stored in; desktops add their folders.
    EXPECT_TRUE(verdict(8u << 20, {"FW.BIN", "Firmware.bin", ".Trash-0", ".fseventsd",
                                   ".Spotlight-V100", "System Volume Information"})
                    .looksLikeBootloader());
    const DriveVerdict large = verdict((8u << 20) + 1, {});
    EXPECT_EQ(large.mismatch, DriveMismatch::tooLarge);
    EXPECT_EQ(driveMismatchText(large),
              "it holds 9 MiB; the controller's drive holds at most 8 MiB");
    // The first foreign name in sorted order, whatever the directory's order.
    const DriveVerdict other = verdict(1u << 20, {"FW.bin", "zeta", ".Trash-", "FW.bin.bak"});
    EXPECT_EQ(other.mismatch, DriveMismatch::otherFiles);
    EXPECT_EQ(driveMismatchText(other), "it holds other files, such as \".Trash-\"");
}

// The desktop's names for a second drive of the bootloader's label count as
// the bootloader mount point; other paths that only begin with it do not.
TEST(BootloaderDrive, MountPointNames) {
    const std::vector<std::string> points = bootloaderMountPointsFor("u");
    const auto taken = [&points](const std::string& path) {
        return std::any_of(points.begin(), points.end(), [&path](const std::string& point) {
            return isBootloaderMountPoint(path, point);
        });
    };
    for (const char* path :
         {"/media/u/CRP DISABLE", "/media/u/CRP DISABLE1", "/run/media/u/CRP DISABLE12",
          "/media/CRP DISABLE3", "/Volumes/CRP DISABLE"}) {
        EXPECT_TRUE(taken(path)) << path;
    }
    for (const char* path :
         {"/media/u/CRP DISABLE0", "/media/u/CRP DISABLE01", "/media/u/CRP DISABLE 1",
          "/media/u/CRP DISABLE1a", "/media/u/CRP DISABLE/1", "/media/u/crp disable",
          "/media/u/CRP DISABL", "/media/v/CRP DISABLE1", "/media/u/CRP DISABLE-1", ""}) {
        EXPECT_FALSE(taken(path)) << path;
    }
    EXPECT_FALSE(isBootloaderMountPoint("1", ""));
}

}  // namespace
}  // namespace tarvo
