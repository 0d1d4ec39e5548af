#include "sim/simulated_platform.h"

#include "sim/controller_session.h"
#include "tcontroller/base/result.h"

#include <QMetaObject>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace tarvo::sim {

Result<void> SimReachability::startNotifier() {
    if (!canStart_) {
        return Result<void>::failure("the simulated notifier was told not to start");
    }
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!stopped_) {
                emit reachabilityChanged(this);
            }
        },
        Qt::QueuedConnection);
    return Result<void>::success();
}

VirtualController* SimFileSystem::controllerAt(const std::string& path) const {
    for (const Volume& volume : volumes_) {
        if (volume.path == path) {
            return volume.controller;
        }
    }
    return nullptr;
}

Result<void> SimFileSystem::createFile(const std::string& path, const Bytes& contents) {
    for (const Volume& volume : volumes_) {
        const std::string folder = volume.path + "/";
        if (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
            volume.controller->refuseFileForSpace(path.substr(folder.size()))) {
            return Result<void>::failure(errnoText(ENOSPC));
        }
    }
    return PosixFileSystem::createFile(path, contents);
}

Result<VolumeFacts> SimFileSystem::describeVolume(const std::string& path) {
    Result<VolumeFacts> facts = PosixFileSystem::describeVolume(path);
    std::lock_guard<std::mutex> hold(drivesMutex_);
    if (const auto drive = usbDrives_.find(path); facts.ok() && drive != usbDrives_.end()) {
        facts.value->bus = "usb";
        if (drive->second) {
            facts.value->totalBytes = *drive->second;
        }
    }
    return facts;
}

void SimFileSystem::declareUsbDrive(const std::string& path,
                                    std::optional<std::uint64_t> totalBytes) {
    std::lock_guard<std::mutex> hold(drivesMutex_);
    usbDrives_[path] = totalBytes;
}

bool SimFileSystem::isMountPoint(const std::string& path) {
    if (VirtualController* controller = controllerAt(path); controller != nullptr && !tmpfs_) {
        return controller->isBootloaderMounted();
    }
    return PosixFileSystem::isMountPoint(path);
}

SimulatedPlatform::SimulatedPlatform(const Options& options)
    : options_(options), server_(options.server), reads_(options.readLimits) {
    if (options_.controllers < 1 || options_.controllers > kMaxControllers) {
        throw std::invalid_argument("simulated platform: from 1 to " +
                                    std::to_string(kMaxControllers) + " controllers, not " +
                                    std::to_string(options_.controllers));
    }
    switch (options_.clock) {
        case ClockKind::instant:
            instant_ = std::make_unique<InstantClock>();
            clock_ = instant_.get();
            break;
        case ClockKind::system:
            clock_owned_ = std::make_unique<SystemClock>();
            clock_ = clock_owned_.get();
            break;
        case ClockKind::fast:
            clock_owned_ = std::make_unique<ScaledClock>(100.0);
            clock_ = clock_owned_.get();
            break;
    }

    if (!server_.start()) {
        throw std::runtime_error(
            "simulated platform: the firmware server could not bind a port on 127.0.0.1");
    }
    // Throws when a controller cannot make its descriptors or its own folder.
    for (int k = 1; k <= options_.controllers; ++k) {
        owned_.push_back(std::make_unique<VirtualController>());
        controllers_.push_back(owned_.back().get());
    }

    // A private folder: the bootloader volumes are "CRP DISABLE",
    // "CRP DISABLE1", ... inside it. Made after everything that may throw,
    // since only the destructor removes it.
    const std::filesystem::path temp = std::filesystem::temp_directory_path();
    std::string pattern = (temp / "tarvo-sim-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("simulated platform: cannot create a private folder in " +
                                 temp.string() + ": " + tarvo::errnoText(errno));
    }
    workDir_ = pattern;
    std::vector<SimFileSystem::Volume> volumes;
    for (int k = 1; k <= options_.controllers; ++k) {
        const std::string path =
            workDir_ + "/" + kBootloaderLabel + (k == 1 ? std::string() : std::to_string(k - 1));
        bootloaderPaths_.push_back(path);
        VirtualController* controller = controllers_[index(k)];
        volumes.push_back({path, controller});
        controller->updateConfig([this, k, &path](VirtualController::Config& config) {
            config.port = "1-1." + std::to_string(k);
            config.volumePath = path;
            config.tmpfsVolume = options_.tmpfsVolume;
            config.tmpfsBytes = options_.tmpfsBytes;
            // A tmpfs mount is seen by the system's mount table; a directory is
            // announced by the simulated watcher.
            config.volumeWatcher = options_.tmpfsVolume ? nullptr : &simVolumes_;
        });
    }
    if (options_.tmpfsVolume) {
        mountVolumes_ = std::make_unique<MountVolumeWatcher>();
        platform_.volumeWatcher = mountVolumes_.get();
    } else {
        platform_.volumeWatcher = &simVolumes_;
    }
    if (options_.keepController || options_.controllers > 1) {
        for (VirtualController* controller : controllers_) {
            controllerThreads_.emplace_back([controller] { controller->start(); });
        }
        platform_.hidMonitorFactory = [this](const std::vector<HIDMonitorData>&,
                                             int) -> std::unique_ptr<HidMonitor> {
            return std::make_unique<ControllerSession>(controllers_);
        };
    } else {
        platform_.hidMonitorFactory = [this](const std::vector<HIDMonitorData>&,
                                             int) -> std::unique_ptr<HidMonitor> {
            return std::move(owned_.front());
        };
    }
    platform_.reachabilityFactory = [this]() -> std::unique_ptr<Reachability> {
        auto r = std::make_unique<SimReachability>(options_.network);
        reachability_ = r.get();
        return r;
    };
    platform_.reads = &reads_;
    fileSystem_ = std::make_unique<SimFileSystem>(volumes, options_.tmpfsVolume);
    // Each controller's drive is on its USB port; a folder stands in for a
    // drive of the tmpfs volume's size, a tmpfs has its own.
    for (const std::string& path : bootloaderPaths_) {
        fileSystem_->declareUsbDrive(path, options_.tmpfsVolume
                                               ? std::nullopt
                                               : std::optional<std::uint64_t>(options_.tmpfsBytes));
    }
    platform_.fileSystem = fileSystem_.get();
    platform_.clock = clock_;
    platform_.sleepInhibitor = &sleepInhibitor_;
    platform_.notifier = &notifier_;
    platform_.serverBase = server_.baseAddress();
    // The second and later controllers' volumes are the first's with a number
    // after it, which the tool takes for the same mount point.
    platform_.bootloaderMountPoints = {bootloaderPaths_.front()};
    platform_.resourcesDir = TARVO_SOURCE_RESOURCES_DIR;
    // The tool's state stays in the private folder: runs side by side never
    // share a pending release.
    platform_.pendingDir =
        options_.pendingDir.empty() ? workDir_ + "/state/pending" : options_.pendingDir;
}

std::size_t SimulatedPlatform::index(int k) const {
    if (k < 1 || k > static_cast<int>(controllers_.size())) {
        throw std::out_of_range("simulated platform: no controller " + std::to_string(k) + " of " +
                                std::to_string(controllers_.size()));
    }
    return static_cast<std::size_t>(k - 1);
}

void SimulatedPlatform::useDesktopServices(SleepInhibitor* inhibitor, DesktopNotifier* notifier) {
    if (inhibitor != nullptr) {
        platform_.sleepInhibitor = inhibitor;
    }
    if (notifier != nullptr) {
        platform_.notifier = notifier;
    }
}

SimulatedPlatform::~SimulatedPlatform() {
    if (instant_) {
        instant_->release();
    }
    for (std::size_t i = 0; i < controllerThreads_.size(); ++i) {
        controllers_[i]->stop();
        controllerThreads_[i].join();
    }
    server_.stop();
    simVolumes_.stop();
    if (mountVolumes_) {
        mountVolumes_->stop();
    }
    std::error_code ec;
    std::filesystem::remove_all(workDir_, ec);
}

}  // namespace tarvo::sim
