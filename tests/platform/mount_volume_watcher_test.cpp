#include <gtest/gtest.h>

#include <algorithm>

#include "support/temp_files.h"
#include "support/test_support.h"
#include "tcontroller/platform/linux/mount_volume_watcher.h"

namespace tarvo {
namespace {

bool contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

class MountVolumeWatcherTest : public ::testing::Test {
  protected:
    ~MountVolumeWatcherTest() override { watcher_.stop(); }  // no report while events_ goes
    void start() { ASSERT_TRUE(watcher_.start().ok()); }
    bool waitFor(const std::string& event) {
        return test::waitUntil([&] { return events_.count(event) > 0; });
    }

    test::TempDir dir_;
    // The scratch folder as the kernel's table names it (symlinks resolved).
    std::string volume_ = std::filesystem::canonical(dir_.path()) / "CRP DISABLE";
    MountVolumeWatcher watcher_;
    test::VolumeEvents events_{watcher_};
};

// A watcher stopped (twice) and started again still reports, with the path
// decoded from the mount table's escapes (the volume's name holds a space).
TEST_F(MountVolumeWatcherTest, ReportsMountAndUnmountWithTheDecodedPathAfterARestart) {
    start();
    EXPECT_TRUE(contains(watcher_.currentMounts(), "/"));
    watcher_.stop();
    watcher_.stop();
    ASSERT_TRUE(watcher_.start().ok());
    test::TmpfsMount mount(volume_, "size=64k");
    if (!mount.mounted()) {
        GTEST_SKIP() << mount.reason();
    }
    ASSERT_TRUE(waitFor("mount " + volume_));
    EXPECT_TRUE(contains(watcher_.currentMounts(), volume_));
    ASSERT_TRUE(mount.unmount());
    ASSERT_TRUE(waitFor("unmount " + volume_));
    EXPECT_FALSE(contains(watcher_.currentMounts(), volume_));
}

TEST_F(MountVolumeWatcherTest, VolumesMountedBeforeStartAreNotReported) {
    test::TmpfsMount early(volume_, "size=64k");
    if (!early.mounted()) {
        GTEST_SKIP() << early.reason();
    }
    start();
    EXPECT_TRUE(contains(watcher_.currentMounts(), volume_));
    // Once a later mount is reported, the earlier one would have been too.
    const std::string later = dir_.path() / "later";
    test::TmpfsMount laterMount(later, "size=64k");
    ASSERT_TRUE(waitFor("mount " + std::filesystem::canonical(later).string()));
    EXPECT_EQ(events_.count("mount " + volume_), 0);
    ASSERT_TRUE(early.unmount());
    EXPECT_TRUE(waitFor("unmount " + volume_));
}

}  // namespace
}  // namespace tarvo
