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
#include "tcontroller/platform/bytes.h"
#include "tcontroller/platform/hid_monitor.h"

// The controller's side of the wire: a simulated remote controller behind the
// HidMonitor interface. It is written independently of the tool's own frame code
// so that it catches the tool's mistakes instead of sharing them.
namespace tarvo::sim {

class SimVolumeWatcher;
class SimLoop;

// A misbehaviour of the controller or its bootloader volume that a user may
// meet during an update. One at a time; see VirtualController::setDeviceFault.
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

// Delays of the simulated controller's reactions.
struct VirtualControllerTimings {
    // Write of a request -> its reply. Never zero in effect: a reply goes out
    // only after the write has returned.
    std::chrono::milliseconds reply{2};
    // Final-step command -> the controller leaves the HID bus.
    std::chrono::milliseconds leaveHid{5};
    // Left the bus (replug-in-erase fault) -> attached again: well within one of
    // the tool's 1-second erase pauses, even on a clock a hundred times faster.
    std::chrono::milliseconds replug{3};
    // Left the HID bus -> bootloader volume mounted.
    std::chrono::milliseconds mount{20};
    // FW.bin complete -> volume unmounted (the bootloader flashing).
    std::chrono::milliseconds flash{200};
    // Volume unmounted -> back on the HID bus with the new firmware.
    std::chrono::milliseconds reconnect{50};
};

class VirtualController;

// The device record of the virtual controller: a new one per attach. Writes
// through a record that has left the bus return kHIDReturnError.
class VirtualDevice final : public HIDDevice {
  public:
    VirtualDevice(VirtualController* owner, int serial);
    int setReport(int reportType, std::uint8_t reportId, const std::uint8_t* bytes,
                  std::size_t length) override;
    std::string name() const override;

  private:
    friend class VirtualController;
    void orphan();  // the controller is being destroyed

    std::mutex mutex_;  // guards owner_ against the controller's destruction
    VirtualController* owner_;
    const int serial_;
};

// A remote controller on a virtual HID bus. start() runs its event loop (the
// "monitor thread") until stop(); every notification — connected, disconnected
// and the identification replies — is emitted from that thread. The bus and the
// configuration may be changed from any thread at any time.
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

    // --- configuration ---
    void setModel(char model);                       // default 'T'
    void setVersionChars(const std::string& chars);  // default "110"; three characters
    // One report per millisecond, like a full-speed interrupt endpoint.
    void setPacing(bool on);
    // Simulator chatter on standard error.
    void setVerbose(bool on);
    void setTimings(const VirtualControllerTimings& timings);
    // Where mounts and unmounts are announced (may be null: not announced).
    void setVolumeWatcher(SimVolumeWatcher* watcher);
    void useDirectoryVolume(const std::string& path);
    void useTmpfsVolume(const std::string& mountPoint, std::size_t sizeBytes = 1u << 20);
    // The volume appears holding an old "firmware.bin" (default: empty).
    void setOldFirmwareOnVolume(bool on);
    // After the final step the controller enters its bootloader but never mounts.
    void setMountAfterFinalStep(bool on);
    // The volume goes away again right after it was announced, before anything
    // could be written.
    void setUnmountBeforeWrite(bool on);

    // --- faults ---
    // Data frames 0 .. n-1 after the latest begin are taken; from data frame n on
    // every write returns kHIDReturnError.
    void failWritesAfterDataFrames(std::size_t n);
    // Data frame k (from 0, after the latest begin) is not taken: the controller
    // leaves the bus instead and the write returns kHIDReturnError.
    void unplugAtDataFrame(std::size_t k);
    // The erase command is taken, then the controller leaves the bus.
    void unplugAfterErase();
    // Identification requests are taken but never answered.
    void setNeverReply(bool on);
    // Clears every fault, those of setDeviceFault included.
    void clearFaults();

    // The data frame at which the unplug-in-data fault strikes: inside any image
    // of more than 54 KiB.
    static constexpr std::size_t kFaultDataFrame = 1000;
    // Replaces the faults with `fault` (none: no fault). The one-shot faults
    // (the two in the erase, unplug-in-data, lose-final-step) strike once; the
    // others stay until changed.
    void setDeviceFault(DeviceFault fault);
    DeviceFault deviceFault() const;
    // The volume-full fault of a directory volume, asked by the simulated file
    // system before it creates a file on the volume: true (and said in the
    // chatter) when the volume is mounted and full. A tmpfs volume is simply
    // mounted tiny and fills up for real.
    bool refuseFileForSpace(const std::string& name);

    // --- observations ---
    std::string volumePath() const;
    std::vector<Violation> violations() const;
    std::size_t violationCount() const;
    std::size_t violationCount(ViolationKind kind) const;
    Bytes receivedImage() const;
    std::size_t dataFrameCount() const;
    std::size_t frameCount(Command command) const;
    bool imageComplete() const;
    std::optional<Bytes> receivedFirmware() const;
    std::string versionChars() const;
    bool isOnHid() const;  // attached and its connected notification delivered
    bool isBootloaderMounted() const;
    std::size_t connectedNotifications() const;
    std::size_t disconnectedNotifications() const;
    std::size_t repliesSent() const;
    // How often the bootloader volume was mounted.
    std::size_t mountCount() const;

    // --- waiting (for tests); each returns false on timeout ---
    using Timeout = std::chrono::milliseconds;
    bool waitUntil(const std::function<bool()>& condition, Timeout timeout);
    bool waitUntilConnected(Timeout timeout = Timeout(5000));
    bool waitUntilDisconnected(Timeout timeout = Timeout(5000));
    bool waitUntilBootloaderMounted(Timeout timeout = Timeout(5000));
    bool waitUntilUnmounted(Timeout timeout = Timeout(5000));
    bool waitUntilFirmwareReceived(Timeout timeout = Timeout(5000));
    // Back on HID after a valid firmware file was taken.
    bool waitUntilBackOnHid(Timeout timeout = Timeout(5000));
    bool waitUntilViolations(std::size_t count, Timeout timeout = Timeout(5000));
    bool waitUntilReplies(std::size_t count, Timeout timeout = Timeout(5000));

  private:
    friend class VirtualDevice;
    enum class Mode { off, hid, bootloader };

    int receive(VirtualDevice* device, int reportType, std::uint8_t reportId,
                const std::uint8_t* bytes, std::size_t length);
    void waitForSlot();

    // Loop-thread steps. `epoch` is the bus epoch the step was scheduled in;
    // a plug or unplug since then cancels it.
    void attach(unsigned epoch);
    void emitDisconnected(HIDDevicePtr device);
    void sendReply(const std::weak_ptr<VirtualDevice>& to, Bytes reply);
    void leaveForBootloader(unsigned epoch);
    void mountVolume(unsigned epoch);
    void onVolumeEvent();
    void finishFlash(unsigned epoch);
    // Leaves the bus at once, with a disconnected notification; `why` is chattered.
    void leaveBusLocked(const std::string& why);
    void clearFaultsLocked();
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
    std::size_t mountCount_ = 0;
    bool flashing_ = false;
    bool backAfterFirmware_ = false;
    std::optional<Bytes> receivedFirmware_;

    char model_ = 'T';
    std::string versionChars_ = "110";
    bool pacing_ = false;
    bool verbose_ = false;
    VirtualControllerTimings timings_;
    SimVolumeWatcher* watcher_ = nullptr;
    bool oldFirmware_ = false;
    bool mountAfterFinalStep_ = true;
    bool unmountBeforeWrite_ = false;
    std::optional<std::size_t> failAfterData_;
    bool writesFailing_ = false;
    std::optional<std::size_t> unplugAtData_;
    bool unplugAfterErase_ = false;
    bool neverReply_ = false;
    DeviceFault deviceFault_ = DeviceFault::none;
    bool replugAfterErase_ = false;
    bool loseFinalStep_ = false;
    bool volumeFull_ = false;
    bool keepOldVersion_ = false;

    std::mutex paceMutex_;
    std::chrono::steady_clock::time_point nextSlot_{};
};

}  // namespace tarvo::sim
