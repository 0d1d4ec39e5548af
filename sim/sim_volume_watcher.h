#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tcontroller/platform/volume_watcher.h"

namespace tarvo::sim {

// A volume watcher fed by the simulator instead of the kernel's mount table.
// The virtual controller announces the mounts and unmounts of its bootloader
// volume; the watcher emits didMount / didUnmount {"NSDevicePath": path,
// "VolumeBus": "usb"} from a thread of its own, in announcement order, like a
// real watcher. Every drive of the simulated world hangs on USB; one announced
// with a label is reported with it, as UDisks reports a drive's label, and one
// announced with a USB port with {"usbPort": port}. Announcements
// made while the watcher is not started are dropped, as a real watcher does not
// see what happened before it began watching.
class SimVolumeWatcher : public VolumeWatcher {
    Q_OBJECT
  public:
    SimVolumeWatcher() = default;
    ~SimVolumeWatcher() override;  // stops the thread

    Result<void> start() override;
    std::vector<QVariantMap> mountedAtStart() const override;
    // Stops the thread; announcements not yet delivered are dropped.
    void stop() override;

    // Safe from any thread; returns at once.
    void announceMount(const std::string& path, const std::string& label = {},
                       const std::string& usbPort = {});
    void announceUnmount(const std::string& path, const std::string& label = {},
                         const std::string& usbPort = {});

    // Waits until every announcement so far has been delivered (its handlers
    // have returned). False on timeout.
    bool waitUntilDelivered(std::chrono::milliseconds timeout);

  private:
    // What is told of a drive besides its mount point.
    struct Drive {
        std::string label;
        std::string usbPort;
    };
    struct Event {
        bool mounted;
        std::string path;
        Drive drive;
    };
    static QVariantMap info(const std::string& path, const Drive& drive);
    void announce(bool mounted, const std::string& path, Drive drive);
    void run();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable delivered_;
    std::deque<Event> events_;
    bool running_ = false;
    std::map<std::string, Drive> mounted_;  // by path, also before start()
    std::map<std::string, Drive> atStart_;
    bool delivering_ = false;
    std::thread thread_;
};

}  // namespace tarvo::sim
