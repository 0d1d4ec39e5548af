#pragma once

#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tcontroller/platform/volume_watcher.h"

struct libmnt_monitor;

namespace tarvo {

// Watches the kernel's mount table through libmount and reports every mount
// point that appears (didMount) or disappears (didUnmount), with the path as
// the user sees it ("CRP DISABLE", never "CRP\040DISABLE"). Works for volumes
// mounted by the desktop's automounter, by hand, or as tmpfs.
//
// The table at start() is the baseline: volumes mounted before it are not
// reported. Signals are emitted on the watcher's own thread.
class MountVolumeWatcher final : public VolumeWatcher {
    Q_OBJECT
  public:
    MountVolumeWatcher() = default;
    ~MountVolumeWatcher() override;  // stops

    // Returns false when libmount cannot watch the mount table. Calling it
    // while already watching does nothing and returns true.
    Result<void> start() override;
    // Wakes the watch thread and joins it. Safe to call when not started.
    void stop() override;

    // The mount points of the last reading of the table (at start() or at the
    // latest change), sorted.
    std::vector<std::string> currentMounts() const;
    std::vector<QVariantMap> mountedAtStart() const override;

  private:
    void run();
    // Reads the table again, replaces the known set, emits for the differences.
    void tableChanged();

    libmnt_monitor* monitor_ = nullptr;
    int monitorFd_ = -1;  // owned by monitor_
    int wakeFd_ = -1;     // eventfd written by stop()
    std::thread thread_;
    mutable std::mutex mountsMutex_;
    std::set<std::string> mounts_;
    std::vector<std::string> initialMounts_;
};

}  // namespace tarvo
