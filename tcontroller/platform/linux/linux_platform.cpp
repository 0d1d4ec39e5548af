#include "tcontroller/platform/linux/linux_platform.h"

#include <pwd.h>
#include <unistd.h>

#include "tcontroller/base/log_file.h"
#include "tcontroller/platform/fallback_volume_watcher.h"
#include "tcontroller/platform/linux/curl_resource_reads.h"
#include "tcontroller/platform/linux/freedesktop_notifier.h"
#include "tcontroller/platform/linux/hidapi_monitor.h"
#include "tcontroller/platform/linux/logind_sleep_inhibitor.h"
#include "tcontroller/platform/linux/mount_volume_watcher.h"
#include "tcontroller/platform/linux/posix_file_system.h"
#include "tcontroller/platform/linux/route_reachability.h"
#include "tcontroller/platform/linux/udisks_volume_watcher.h"

namespace tarvo {
namespace {
std::string loginName() {
    if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_name != nullptr) {
        return pw->pw_name;
    }
    return {};
}
}  // namespace

struct LinuxPlatform::Services {
    SystemClock clock;
    CurlResourceReads reads;
    PosixFileSystem fileSystem;
    // The bootloader volume through UDisks by its label; the mount table at
    // the known mount points where UDisks is not installed.
    UDisksVolumeWatcher udisks{QDBusConnection::systemBus(), {kBootloaderLabel}};
    MountVolumeWatcher mountTable;
    FallbackVolumeWatcher volumes{udisks, mountTable};
    LogindSleepInhibitor sleepInhibitor{QDBusConnection::systemBus()};
    FreedesktopNotifier notifier{QDBusConnection::sessionBus(),
                                 QStringLiteral("Tarvo Remote Firmware Update"),
                                 QStringLiteral("com.tarvo.RemoteFirmwareUpdate")};
};

LinuxPlatform::LinuxPlatform(std::string serverBase, std::string resourcesDir)
    : services_(std::make_unique<Services>()) {
    platform_.hidMonitorFactory = hidapiMonitorFactory();
    platform_.reachabilityFactory = [] { return std::make_unique<RouteReachability>(); };
    platform_.volumeWatcher = &services_->volumes;
    platform_.reads = &services_->reads;
    platform_.fileSystem = &services_->fileSystem;
    platform_.clock = &services_->clock;
    platform_.sleepInhibitor = &services_->sleepInhibitor;
    platform_.notifier = &services_->notifier;
    platform_.serverBase = std::move(serverBase);
    platform_.bootloaderMountPoints = bootloaderMountPointsFor(loginName());
    platform_.resourcesDir = std::move(resourcesDir);
    platform_.pendingDir = defaultLogDirectory() + "/pending";
}

LinuxPlatform::~LinuxPlatform() = default;

}  // namespace tarvo
