#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/clocks.h"
#include "sim/firmware_server.h"
#include "sim/sim_desktop_services.h"
#include "sim/sim_volume_watcher.h"
#include "sim/virtual_controller.h"
#include "tcontroller/platform/linux/curl_resource_reads.h"
#include "tcontroller/platform/linux/mount_volume_watcher.h"
#include "tcontroller/platform/linux/posix_file_system.h"
#include "tcontroller/platform/platform.h"

namespace tarvo::sim {

// A reachability monitor that reports a chosen connection once, on the main
// thread, after it is started.
class SimReachability : public Reachability {
    Q_OBJECT
  public:
    // `canStart` false: the notifier cannot start, as when the system refuses.
    explicit SimReachability(Connection connection, bool canStart = true)
        : connection_(connection), canStart_(canStart) {}
    Result<void> startNotifier() override;
    void stopNotifier() override { stopped_ = true; }
    Connection connection() const override { return connection_; }
    // What the network is now: the network can be lost after the first report.
    Connection connectionNow() const override { return now_.load(); }
    void setConnectionNow(Connection connection) { now_.store(connection); }
    bool stopped() const { return stopped_; }

  private:
    Connection connection_;
    std::atomic<Connection> now_{connection_};
    bool canStart_;
    bool stopped_ = false;
};

// The real file system, except that a virtual controller's bootloader folder
// counts as a mount point exactly while that controller has it mounted (in
// directory mode it is a plain folder), that a file created in it fails for
// lack of space, creating nothing, under that controller's volume-full fault,
// and that the drives of the simulated world (the controllers' and any a test
// declares) are USB drives of the size they are declared with.
class SimFileSystem : public PosixFileSystem {
  public:
    // A controller's bootloader folder.
    struct Volume {
        std::string path;
        VirtualController* controller = nullptr;
    };
    // `tmpfs`: the controllers' volumes are real mounts, seen as such by the system.
    SimFileSystem(std::vector<Volume> volumes, bool tmpfs)
        : volumes_(std::move(volumes)), tmpfs_(tmpfs) {}
    Result<void> createFile(const std::string& path, const Bytes& contents) override;
    bool isMountPoint(const std::string& path) override;
    Result<VolumeFacts> describeVolume(const std::string& path) override;

    // The folder or mount at `path` is a USB drive; `totalBytes` stands in for
    // the size of a folder (a tmpfs reports its own when left unset). Any thread.
    void declareUsbDrive(const std::string& path, std::optional<std::uint64_t> totalBytes);

  private:
    // The controller whose bootloader folder is `path`, or null.
    VirtualController* controllerAt(const std::string& path) const;

    const std::vector<Volume> volumes_;
    bool tmpfs_;
    std::mutex drivesMutex_;
    std::map<std::string, std::optional<std::uint64_t>> usbDrives_;
};

// The whole simulated world around the tool: one or more virtual controllers
// on a virtual HID bus, each on a USB port of its own ("1-1.K" for controller
// K) with a bootloader volume of its own (a directory, or a real tmpfs mount
// watched through libmount), the loopback firmware server, real libcurl reads
// and real files, a chosen network state and a chosen clock.
class SimulatedPlatform {
  public:
    enum class ClockKind { instant, system, fast };  // fast: the system clock, sleeps /100
    struct Options {
        ClockKind clock = ClockKind::instant;
        Reachability::Connection network = Reachability::Connection::wifi;
        bool tmpfsVolume = false;  // a real tmpfs mount (needs the right to mount)
        std::size_t tmpfsBytes = 1u << 20;
        ReadLimits readLimits{};
        FirmwareServer::Options server{};
        // Where the tool keeps a pending release; empty: in the private folder.
        std::string pendingDir{};
        // The controller outlives each window built on the platform, as a real
        // one outlives a restart of the tool: its loop runs on a thread of the
        // platform's own, and every window gets a session of it.
        bool keepController = false;
        // How many controllers, from 1 to kMaxControllers. With more than one
        // they are all kept (as keepController), and every window gets one
        // HID monitor that reports them all.
        int controllers = 1;
    };
    static constexpr int kMaxControllers = 8;

    // Throws std::runtime_error, saying what failed, when the simulated world
    // cannot be set up: no port for the server, no private folder, no
    // descriptors for the controllers; std::invalid_argument for a number of
    // controllers out of range.
    explicit SimulatedPlatform(const Options& options);
    SimulatedPlatform() : SimulatedPlatform(Options{}) {}
    ~SimulatedPlatform();

    // The platform to build a ViewController with. Its HID monitor factory
    // hands over the virtual controller once (one controller, not kept), or
    // a monitor of every controller each time.
    const Platform& platform() const { return platform_; }
    // The first controller; controller(k) the k-th, from 1 to controllerCount().
    VirtualController& controller() { return *controllers_.front(); }
    VirtualController& controller(int k) { return *controllers_.at(index(k)); }
    int controllerCount() const { return static_cast<int>(controllers_.size()); }
    FirmwareServer& server() { return server_; }
    Clock& clock() { return *clock_; }
    InstantClock* instantClock() { return instant_.get(); }
    SimReachability* reachability() const { return reachability_; }
    SimSleepInhibitor& sleepInhibitor() { return sleepInhibitor_; }
    SimNotifier& notifier() { return notifier_; }
    // Puts real desktop services in place of the simulated ones (null keeps
    // the simulated one); they must outlive every window built on platform().
    void useDesktopServices(SleepInhibitor* inhibitor, DesktopNotifier* notifier);
    // Where the first controller's bootloader volume is mounted: "CRP DISABLE"
    // in the private folder. bootloaderPath(k): the k-th's, "CRP DISABLE<k-1>"
    // beside it for k >= 2, as desktops name a second drive with the same label.
    const std::string& bootloaderPath() const { return bootloaderPaths_.front(); }
    const std::string& bootloaderPath(int k) const { return bootloaderPaths_.at(index(k)); }
    // The simulated file system (drives can be declared on it).
    SimFileSystem& fileSystem() { return *fileSystem_; }
    // The simulated volume watcher (a directory-mode drive is announced on it).
    SimVolumeWatcher& volumeWatcher() { return simVolumes_; }

  private:
    // Index of the 1-based controller number `k`; throws std::out_of_range.
    std::size_t index(int k) const;

    Options options_;
    std::unique_ptr<InstantClock> instant_;
    std::unique_ptr<Clock> clock_owned_;
    Clock* clock_ = nullptr;
    FirmwareServer server_;
    CurlResourceReads reads_;
    std::unique_ptr<SimFileSystem> fileSystem_;
    SimVolumeWatcher simVolumes_;
    SimSleepInhibitor sleepInhibitor_;
    SimNotifier notifier_;
    std::unique_ptr<MountVolumeWatcher> mountVolumes_;
    // Until the HID monitor factory hands the one controller over (when not kept).
    std::vector<std::unique_ptr<VirtualController>> owned_;
    std::vector<std::thread> controllerThreads_;  // kept controllers: their loops
    std::vector<VirtualController*> controllers_;
    SimReachability* reachability_ = nullptr;
    std::string workDir_;
    std::vector<std::string> bootloaderPaths_;
    Platform platform_;
};

}  // namespace tarvo::sim
