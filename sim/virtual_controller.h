#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/bootloader_volume.h"
#include "sim/frame_checker.h"
#include "tcontroller/base/bytes.h"
#include "tcontroller/platform/hid_monitor.h"

// The controller's side of the wire: a simulated remote controller behind the
// HidMonitor interface. It is written independently of the tool's own frame code
// so that it catches the tool's mistakes instead of sharing them.
namespace tarvo::sim {

class SimVolumeWatcher;
class SimLoop;

// A misbehaviour of the controller or its bootloader volume that a user may
// meet during an update. One at a time; see VirtualController::Faults::of.
enum class DeviceFault {
    none,
    unplugInErase,       // the erase command is taken, then the controller leaves the bus
    replugInErase,       // the same, and it is back a few milliseconds later (a new attach)
    unplugInData,        // it leaves the bus at data frame kFaultDataFrame of the image
    loseFinalStep,       // after the final step it leaves HID, but its volume appears only
                         // after a replug and the next final step (once)
    volumeFull,          // a file written onto the bootloader volume does not fit
    unmountBeforeWrite,  // the volume goes away right after it appeared
    keepOldVersion,      // it flashes a valid FW.bin but goes on reporting its old version
    noAnswer,            // identification requests are taken but never answered
};

class VirtualController;

// The device record of the virtual controller: a new one per attach, on the
// USB port the controller was plugged into then. Writes through a record that
// has left the bus fail.
class VirtualDevice final : public HIDDevice {
  public:
    VirtualDevice(VirtualController* owner, int serial, std::string port);
    Result<void> setReport(int reportType, std::uint8_t reportId, const std::uint8_t* bytes,
                           std::size_t length) override;
    // "virtual controller 1-1.2 #3": the port and the attach's serial number.
    std::string name() const override;
    std::string port() const override { return port_; }

  private:
    friend class VirtualController;
    void orphan();  // the controller is being destroyed

    std::mutex mutex_;  // guards owner_ against the controller's destruction
    VirtualController* owner_;
    const int serial_;
    const std::string port_;
};

// A remote controller on a virtual HID bus. start() runs its event loop (the
// "monitor thread") until stop(); every notification — connected, disconnected
// and the identification replies — is emitted from that thread. The bus, the
// configuration and the faults may be changed from any thread at any time.
class VirtualController : public HidMonitor {
    Q_OBJECT
  public:
    VirtualController();
    // The loop must have returned (stop() and join the thread that ran start()).
    ~VirtualController() override;

    void start() override;
    void stop() override;

    // --- bus ---
    // Attaches the controller, running its firmware. Before start() it counts as
    // already attached and is reported when start() begins.
    void plug();
    // Detaches it: leaves the HID bus, or unmounts the bootloader volume.
    void unplug();
    // Attaches the controller already in bootloader mode: it mounts its volume
    // (at once, or when start() begins) and waits for FW.bin.
    void startInBootloader();
    // Reports the controller's attachment again when it is on HID, as a
    // monitor that starts watching does (a tool started anew).
    void announceAttachment();

    // --- configuration and faults ---
    // Delays of the controller's reactions.
    struct Timings {
        // Write of a request -> its reply. Never zero in effect: a reply goes
        // out only after the write has returned.
        std::chrono::milliseconds reply{2};
        // Final-step command -> the controller leaves the HID bus.
        std::chrono::milliseconds leaveHid{5};
        // Left the bus (replug-in-erase fault) -> attached again: well within
        // one of the tool's 1-second erase pauses, even on a clock a hundred
        // times faster.
        std::chrono::milliseconds replug{3};
        // Left the HID bus -> bootloader volume mounted.
        std::chrono::milliseconds mount{20};
        // FW.bin complete -> volume unmounted (the bootloader flashing).
        std::chrono::milliseconds flash{200};
        // Volume unmounted -> back on the HID bus with the new firmware.
        std::chrono::milliseconds reconnect{50};
    };

    // How the controller presents itself and behaves when nothing goes wrong.
    // Each setting applies from the controller's next step that uses it (the
    // next reply, write, announcement or mount).
    struct Config {
        char model = 'T';
        // The firmware it runs, as it reports it: three characters ("110" is
        // 1.1). The firmware file it flashes replaces them.
        std::string versionChars = "110";
        // One report per millisecond, like a full-speed interrupt endpoint.
        bool pacing = false;
        // Simulator chatter on standard error.
        bool verbose = false;
        // The USB port it is plugged into, as the kernel names it: its device
        // records and its bootloader volume's announcements carry it, and
        // the chatter names it.
        std::string port = "1-1.1";
        Timings timings;
        // Where mounts and unmounts are announced (null: not announced).
        SimVolumeWatcher* volumeWatcher = nullptr;
        // The bootloader volume: a directory at `volumePath`, created at mount
        // (it must then be absent or empty) and removed at unmount; or a tmpfs
        // of `tmpfsBytes` mounted there (the mount point is created when
        // missing). An empty path is "CRP DISABLE" in a private folder.
        std::string volumePath;
        bool tmpfsVolume = false;
        std::size_t tmpfsBytes = 1u << 20;
        // The volume appears holding an old "firmware.bin" (otherwise empty).
        bool oldFirmwareOnVolume = false;
    };

    // The data frame at which the unplug-in-data fault strikes: inside any
    // image of more than 54 KiB.
    static constexpr std::size_t kFaultDataFrame = 1000;

    // What the controller does wrong. The one-shot faults are spent when they
    // strike: faults() shows them off from then on.
    struct Faults {
        // Data frames 0 .. n-1 after the latest begin are taken; from data
        // frame n on every write fails, until the faults are
        // set again.
        std::optional<std::size_t> failWritesAfterDataFrames;
        // One-shot: data frame k (from 0, after the latest begin) is not taken;
        // the controller leaves the bus instead and the write fails.
        std::optional<std::size_t> unplugAtDataFrame;
        // One-shot: the erase command is taken, then the controller leaves the bus.
        bool unplugAfterErase = false;
        // One-shot: the same, and it is back Timings::replug later as a new
        // attach running its firmware.
        bool replugAfterErase = false;
        // Identification requests are taken but never answered.
        bool neverReply = false;
        // Off: after the final step it enters its bootloader but never mounts.
        bool mountAfterFinalStep = true;
        // One-shot: after the final step it leaves HID, but its volume appears
        // only after a replug and the next final step.
        bool loseFinalStep = false;
        // The volume goes away again right after it was announced, before
        // anything could be written.
        bool unmountBeforeWrite = false;
        // A file written onto the volume does not fit. A tmpfs volume is
        // mounted with room for one page; for a directory volume the simulated
        // file system asks refuseFileForSpace().
        bool volumeFull = false;
        // It flashes a valid FW.bin but goes on reporting its old version.
        bool keepOldVersion = false;

        // The faults that make up `fault`, and no other (none: no fault).
        static Faults of(DeviceFault fault);
    };

    // Changes the configuration in place, atomically. `change` runs under the
    // controller's lock and must not call the controller. Throws
    // std::invalid_argument, changing nothing, for a configuration whose
    // versionChars are not three characters.
    void updateConfig(const std::function<void(Config&)>& change);
    Config config() const;
    void setFaults(const Faults& faults);
    Faults faults() const;
    // As updateConfig, for the faults.
    void updateFaults(const std::function<void(Faults&)>& change);

    // The volume-full fault of a directory volume, asked by the simulated file
    // system before it creates a file on the volume: true (and said in the
    // chatter) when the volume is mounted and full. A tmpfs volume is simply
    // mounted tiny and fills up for real.
    bool refuseFileForSpace(const std::string& name);

    // --- observations ---
    // Where the bootloader volume is mounted, or will be at its next mount.
    std::string volumePath() const;
    std::vector<Violation> violations() const;
    std::size_t violationCount() const;
    std::size_t violationCount(ViolationKind kind) const;
    Bytes receivedImage() const;
    std::size_t dataFrameCount() const;
    std::size_t frameCount(Command command) const;
    bool imageComplete() const;
    std::optional<Bytes> receivedFirmware() const;
    bool isOnHid() const;  // attached and its connected notification delivered
    bool isBootloaderMounted() const;
    std::size_t connectedNotifications() const;

    // --- waiting (for tests); each returns false on timeout ---
    using Timeout = std::chrono::milliseconds;
    // Long enough for the work waited for on a busy machine under a
    // sanitizer; a wait that succeeds returns as soon as it can.
    static constexpr Timeout kWait{60000};
    bool waitUntil(const std::function<bool()>& condition, Timeout timeout);
    bool waitUntilConnected(Timeout timeout = kWait);
    bool waitUntilDisconnected(Timeout timeout = kWait);
    bool waitUntilBootloaderMounted(Timeout timeout = kWait);
    // Back on HID after a valid firmware file was taken.
    bool waitUntilBackOnHid(Timeout timeout = kWait);
    bool waitUntilViolations(std::size_t count, Timeout timeout = kWait);
    bool waitUntilReplies(std::size_t count, Timeout timeout = kWait);

  private:
    friend class VirtualDevice;
    enum class Mode { off, hid, bootloader };

    Result<void> receive(VirtualDevice* device, int reportType, std::uint8_t reportId,
                         const std::uint8_t* bytes, std::size_t length);
    void waitForSlot();

    // Loop-thread steps. `epoch` is the bus epoch the step was scheduled in;
    // a plug or unplug since then cancels it.
    void attach(unsigned epoch);
    void emitDisconnected(const HIDDevicePtr& device);
    void sendReply(const std::weak_ptr<VirtualDevice>& to, Bytes reply);
    void leaveForBootloader(unsigned epoch);
    void mountVolume(unsigned epoch);
    void onVolumeEvent();
    void finishFlash(unsigned epoch);
    // Leaves the bus at once, with a disconnected notification; `why` is chattered.
    void leaveBusLocked(const std::string& why);
    BootloaderVolume::Setup volumeSetupLocked() const;
    std::shared_ptr<VirtualDevice> detachLocked();
    void unmountLocked();
    void changedLocked();
    void chatter(const std::string& line) const;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    unsigned long generation_ = 0;

    std::unique_ptr<SimLoop> loop_;
    BootloaderVolume volume_;
    FrameChecker checker_;

    Mode mode_ = Mode::off;
    unsigned epoch_ = 0;
    std::shared_ptr<VirtualDevice> current_;
    std::vector<std::weak_ptr<VirtualDevice>> issued_;
    int serials_ = 0;
    bool connectedNotified_ = false;
    std::size_t connectedCount_ = 0;
    std::size_t disconnectedCount_ = 0;
    std::size_t repliesSent_ = 0;
    bool flashing_ = false;
    bool backAfterFirmware_ = false;
    std::optional<Bytes> receivedFirmware_;

    Config config_;
    Faults faults_;
    bool writesFailing_ = false;  // the fail-writes fault has struck

    std::mutex paceMutex_;
    std::chrono::steady_clock::time_point nextSlot_{};
};

}  // namespace tarvo::sim
