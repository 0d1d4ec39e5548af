#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tcontroller/base/clock.h"
#include "tcontroller/platform/desktop_notifier.h"
#include "tcontroller/platform/file_system.h"
#include "tcontroller/platform/hid_monitor.h"
#include "tcontroller/platform/reachability.h"
#include "tcontroller/platform/resource_reads.h"
#include "tcontroller/platform/sleep_inhibitor.h"
#include "tcontroller/platform/volume_watcher.h"

namespace tarvo {

// Everything the updater reaches outside itself. main() fills it with the Linux
// services, the demo with the simulated ones, tests with whatever mix they need.
// The services are owned by whoever built the Platform and outlive the
// ViewController.
struct Platform {
    HidMonitorFactory hidMonitorFactory;
    // Returns null when no monitor can be created.
    std::function<std::unique_ptr<Reachability>()> reachabilityFactory;
    VolumeWatcher* volumeWatcher = nullptr;
    ResourceReads* reads = nullptr;
    FileSystem* fileSystem = nullptr;
    Clock* clock = nullptr;
    // Optional: without them the computer may sleep during an update, and its
    // end is told only in the window.
    SleepInhibitor* sleepInhibitor = nullptr;
    DesktopNotifier* notifier = nullptr;

    // Scheme and host of the firmware server, e.g. "http://127.0.0.1:8080".
    std::string serverBase;
    // Where the controller's bootloader volume may be mounted: each point as
    // it is, or followed by the number a desktop adds for a second drive of
    // the same label (isBootloaderMountPoint).
    std::vector<std::string> bootloaderMountPoints;
    // Folder holding TFW/IMG.bin, TFW/FW.bin and images/.
    std::string resourcesDir;
    // Folder where the release whose image the controller holds is kept until
    // its firmware is written, so a restart can finish it; empty: not kept.
    std::string pendingDir;
};

// The filesystem label of the controller's bootloader volume.
inline constexpr const char* kBootloaderLabel = "CRP DISABLE";

// The bootloader mount points for a login name: the documented one and where
// Linux desktops mount a volume labelled "CRP DISABLE".
std::vector<std::string> bootloaderMountPointsFor(const std::string& user);

}  // namespace tarvo
