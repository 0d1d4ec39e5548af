#include <gtest/gtest.h>

#include <QVariantMap>
#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "scratch.h"
#include "support/temp_files.h"
#include "tcontroller/platform/linux/mount_volume_watcher.h"

namespace tarvo {
namespace {

bool contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

class MountVolumeWatcherTest : public ::testing::Test {
  protected:
    // Starts watching; notifications are recorded as "mount PATH" / "unmount PATH".
    void start() {
        auto record = [this](const char* kind) {
            return [this, kind](const QVariant& info) {
                std::lock_guard<std::mutex> hold(mutex_);
                events_.push_back(kind +
                                  info.toMap().value("NSDevicePath").toString().toStdString());
                changed_.notify_all();
            };
        };
        QObject::connect(&watcher_, &VolumeWatcher::didMount, &watcher_, record("mount "),
                         Qt::DirectConnection);
        QObject::connect(&watcher_, &VolumeWatcher::didUnmount, &watcher_, record("unmount "),
                         Qt::DirectConnection);
        ASSERT_TRUE(watcher_.start().ok());
    }
    // Bounded wait for a notification of exactly this text.
    bool waitFor(const std::string& event) {
        std::unique_lock<std::mutex> hold(mutex_);
        return changed_.wait_for(hold, std::chrono::seconds(60),
                                 [&] { return contains(events_, event); });
    }

    test::TempDir dir_;
    // The scratch folder as the kernel's table names it (symlinks resolved).
    std::string volume_ = std::filesystem::canonical(dir_.path()) / "CRP DISABLE";
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> events_;
    MountVolumeWatcher watcher_;  // last: its thread is joined before the above go
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
    {
        std::lock_guard<std::mutex> hold(mutex_);
        EXPECT_FALSE(contains(events_, "mount " + volume_));
    }
    ASSERT_TRUE(early.unmount());
    EXPECT_TRUE(waitFor("unmount " + volume_));
}

}  // namespace
}  // namespace tarvo
