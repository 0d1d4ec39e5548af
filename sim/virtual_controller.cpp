#include "sim/virtual_controller.h"

#include <QByteArray>
#include <QVariantMap>
#include <algorithm>
#include <cstdio>
#include <thread>

#include "sim/controller_wire.h"
#include "sim/firmware_format.h"
#include "sim/sim_loop.h"
#include "sim/sim_volume_watcher.h"

namespace tarvo::sim {
namespace {

std::string n(std::size_t value) {
    return std::to_string(value);
}

}  // namespace

// ---------------------------------------------------------------------------
// VirtualDevice

VirtualDevice::VirtualDevice(VirtualController* owner, int serial)
    : owner_(owner), serial_(serial) {}

int VirtualDevice::setReport(int reportType, std::uint8_t reportId, const std::uint8_t* bytes,
                             std::size_t length) {
    // Held for the whole write: writes through one record reach the controller
    // one at a time, like reports on one endpoint, and the controller cannot be
    // destroyed under a write.
    std::lock_guard<std::mutex> hold(mutex_);
    if (owner_ == nullptr) {
        return kHIDReturnError;
    }
    return owner_->receive(this, reportType, reportId, bytes, length);
}

std::string VirtualDevice::name() const {
    return "virtual controller #" + std::to_string(serial_);
}

void VirtualDevice::orphan() {
    std::lock_guard<std::mutex> hold(mutex_);
    owner_ = nullptr;
}

// ---------------------------------------------------------------------------
// VirtualController

VirtualController::VirtualController() {
    loop_ = std::make_unique<SimLoop>(volume_.notifyFd(), [this] { onVolumeEvent(); });
}

VirtualController::~VirtualController() {
    std::vector<std::weak_ptr<VirtualDevice>> issued;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        issued = issued_;
    }
    for (auto& weak : issued) {
        if (auto device = weak.lock()) {
            device->orphan();
        }
    }
}

void VirtualController::start() {
    loop_->run();
}

void VirtualController::stop() {
    loop_->stop();
}

void VirtualController::changedLocked() {
    ++generation_;
    changed_.notify_all();
}

void VirtualController::chatter(const std::string& line) const {
    if (verbose_) {
        std::fprintf(stderr, "virtual controller: %s\n", line.c_str());
    }
}

std::shared_ptr<VirtualDevice> VirtualController::detachLocked() {
    auto device = std::move(current_);
    current_.reset();
    connectedNotified_ = false;
    checker_.abandonTransfer();
    return device;
}

// --- bus ---

void VirtualController::plug() {
    std::lock_guard<std::mutex> hold(mutex_);
    if (mode_ != Mode::off) {
        return;
    }
    const unsigned epoch = ++epoch_;
    mode_ = Mode::hid;
    chatter("plugged in");
    loop_->post(std::chrono::milliseconds(0), [this, epoch] { attach(epoch); });
}

void VirtualController::startInBootloader() {
    std::lock_guard<std::mutex> hold(mutex_);
    if (mode_ != Mode::off) {
        return;
    }
    const unsigned epoch = ++epoch_;
    mode_ = Mode::bootloader;
    flashing_ = false;
    chatter("plugged in, in bootloader mode");
    loop_->post(std::chrono::milliseconds(0), [this, epoch] { mountVolume(epoch); });
}

void VirtualController::unplug() {
    std::lock_guard<std::mutex> hold(mutex_);
    ++epoch_;  // cancels every pending step of the old attachment
    auto device = detachLocked();
    unmountLocked();
    mode_ = Mode::off;
    flashing_ = false;
    chatter("unplugged");
    if (device) {
        loop_->post(std::chrono::milliseconds(0), [this, device] { emitDisconnected(device); });
    }
    changedLocked();
}

// Announcements are made under the lock (they only queue), so whoever sees the
// volume's new state knows the watcher has been told.
void VirtualController::unmountLocked() {
    if (!volume_.isMounted()) {
        return;
    }
    volume_.unmount();
    if (watcher_) {
        watcher_->announceUnmount(volume_.path());
    }
}

void VirtualController::attach(unsigned epoch) {
    std::shared_ptr<VirtualDevice> device;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (epoch != epoch_ || current_) {
            return;
        }
        device = std::make_shared<VirtualDevice>(this, ++serials_);
        issued_.push_back(device);
        current_ = device;
        mode_ = Mode::hid;
        connectedNotified_ = false;
        chatter("on HID as " + device->name() + ", firmware " + versionChars_);
    }
    QVariantMap object;
    object.insert(QStringLiteral("device"), QVariant::fromValue(HIDDevicePtr(device)));
    emit HIDDeviceConnected(object);

    std::lock_guard<std::mutex> hold(mutex_);
    ++connectedCount_;
    if (current_ == device) {
        connectedNotified_ = true;
        if (receivedFirmware_) {
            backAfterFirmware_ = true;
        }
    }
    changedLocked();
}

void VirtualController::emitDisconnected(HIDDevicePtr device) {
    QVariantMap object;
    object.insert(QStringLiteral("device"), QVariant::fromValue(device));
    emit HIDDeviceDisconnected(object);
    std::lock_guard<std::mutex> hold(mutex_);
    ++disconnectedCount_;
    changedLocked();
}

void VirtualController::sendReply(const std::weak_ptr<VirtualDevice>& to, Bytes reply) {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (to.lock() != current_ || !current_) {
            return;  // the controller left the bus before it could answer
        }
    }
    QVariantMap object;
    object.insert(QStringLiteral("data"), QByteArray(reinterpret_cast<const char*>(reply.data()),
                                                     static_cast<qsizetype>(reply.size())));
    emit HIDDeviceDataReceived(object);
    std::lock_guard<std::mutex> hold(mutex_);
    ++repliesSent_;
    changedLocked();
}

void VirtualController::leaveForBootloader(unsigned epoch) {
    std::shared_ptr<VirtualDevice> device;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (epoch != epoch_ || mode_ != Mode::hid) {
            return;
        }
        device = detachLocked();
        mode_ = Mode::bootloader;
        flashing_ = false;
        chatter("final step: leaving HID for the bootloader");
        if (loseFinalStep_) {
            // Once: after a replug the image is still in flash, and the next
            // final step mounts the volume as usual.
            loseFinalStep_ = false;
            chatter("bootloader volume does not appear until the controller is replugged (fault)");
        } else if (mountAfterFinalStep_) {
            loop_->post(timings_.mount, [this, epoch] { mountVolume(epoch); });
        } else {
            chatter("bootloader will not mount its volume (fault)");
        }
        changedLocked();
    }
    if (device) {
        emitDisconnected(device);
    }
}

void VirtualController::mountVolume(unsigned epoch) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (epoch != epoch_ || mode_ != Mode::bootloader) {
        return;
    }
    std::string error;
    if (!volume_.mount(oldFirmware_, &error)) {
        // A broken test setup, not a fault of the tool: always said.
        std::fprintf(stderr, "virtual controller: cannot mount the bootloader volume: %s\n",
                     error.c_str());
        return;
    }
    ++mountCount_;
    chatter("bootloader volume mounted at " + volume_.path());
    if (watcher_) {
        watcher_->announceMount(volume_.path());
    }
    if (unmountBeforeWrite_) {
        chatter("bootloader volume gone again before anything was written (fault)");
        unmountLocked();
    }
    changedLocked();
}

void VirtualController::onVolumeEvent() {
    std::lock_guard<std::mutex> hold(mutex_);
    // Always drain the queue first, so the descriptor stops being readable.
    if (!volume_.firmwareWritten() || mode_ != Mode::bootloader || flashing_ ||
        !volume_.isMounted()) {
        return;
    }
    const auto file = volume_.readFirmware();
    const auto parsed = file ? parseReleaseFile(*file) : std::nullopt;
    if ((!file || !parsed) && volumeFull_) {
        // The tool's write ran out of space: the part it wrote, if still there,
        // is not its mistake.
        chatter("FW.bin incomplete: the volume is full (fault)");
    } else if (!file) {
        checker_.addViolation(ViolationKind::firmware, "FW.bin cannot be read");
    } else if (!parsed) {
        checker_.addViolation(ViolationKind::firmware,
                              "FW.bin of " + n(file->size()) +
                                  " bytes is not a valid firmware file (truncated or corrupt)");
    } else if (parsed->kind != FileKind::firmware) {
        checker_.addViolation(ViolationKind::firmware, "FW.bin holds an image file, not firmware");
    } else {
        receivedFirmware_ = *file;
        flashing_ = true;
        if (keepOldVersion_) {
            chatter("FW.bin accepted, firmware " + parsed->versionChars +
                    ", flashing; will go on reporting " + versionChars_ + " (fault)");
        } else {
            versionChars_ = parsed->versionChars;
            chatter("FW.bin accepted, firmware " + versionChars_ + ", flashing");
        }
        const unsigned epoch = epoch_;
        loop_->post(timings_.flash, [this, epoch] { finishFlash(epoch); });
    }
    if (!flashing_) {
        chatter("FW.bin rejected; staying in bootloader mode");
    }
    changedLocked();
}

void VirtualController::finishFlash(unsigned epoch) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (epoch != epoch_ || mode_ != Mode::bootloader) {
        return;
    }
    unmountLocked();
    mode_ = Mode::off;
    flashing_ = false;
    chatter("flashed; restarting");
    loop_->post(timings_.reconnect, [this, epoch] { attach(epoch); });
    changedLocked();
}

void VirtualController::leaveBusLocked(const std::string& why) {
    ++epoch_;  // cancels every pending step of this attachment
    mode_ = Mode::off;
    auto gone = detachLocked();
    chatter(why);
    if (gone) {
        loop_->post(std::chrono::milliseconds(0), [this, gone] { emitDisconnected(gone); });
    }
    changedLocked();
}

// --- writes ---

void VirtualController::waitForSlot() {
    std::chrono::steady_clock::time_point slot;
    {
        std::lock_guard<std::mutex> hold(paceMutex_);
        slot = std::max(std::chrono::steady_clock::now(), nextSlot_);
        nextSlot_ = slot + std::chrono::milliseconds(1);
    }
    std::this_thread::sleep_until(slot);
}

int VirtualController::receive(VirtualDevice* device, int reportType, std::uint8_t reportId,
                               const std::uint8_t* bytes, std::size_t length) {
    bool pacing = false;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        pacing = pacing_;
    }
    if (pacing) {
        waitForSlot();
    }
    std::lock_guard<std::mutex> hold(mutex_);
    if (!current_ || current_.get() != device) {
        chatter("write through a detached record refused");
        return kHIDReturnError;
    }
    const bool isData = bytes != nullptr && length > 4 && bytes[4] == wire::kData;
    if (failAfterData_ &&
        (writesFailing_ || (isData && checker_.dataFrames() >= *failAfterData_))) {
        writesFailing_ = true;
        chatter("write refused (fault)");
        return kHIDReturnError;
    }
    if (unplugAtData_ && isData && checker_.dataFrames() == *unplugAtData_) {
        unplugAtData_.reset();
        leaveBusLocked("unplugged at data frame " + n(checker_.dataFrames()) + " (fault)");
        return kHIDReturnError;
    }

    const Command command = checker_.take(reportType, reportId, bytes, length);
    // A reply goes out from the loop, never inside this call, and at least a
    // millisecond later: the tool marks the reply as awaited only once the
    // write has returned.
    const auto replyDelay = std::max(timings_.reply, std::chrono::milliseconds(1));
    const std::weak_ptr<VirtualDevice> to = current_;
    switch (command) {
        case Command::modelRequest:
            if (!neverReply_) {
                loop_->post(replyDelay,
                            [this, to, r = wire::modelReply(model_)] { sendReply(to, r); });
            }
            break;
        case Command::versionRequest:
            if (!neverReply_) {
                loop_->post(replyDelay, [this, to, r = wire::versionReply(versionChars_)] {
                    sendReply(to, r);
                });
            }
            break;
        case Command::erase:
            if (unplugAfterErase_) {
                unplugAfterErase_ = false;
                leaveBusLocked("unplugged after erase (fault)");
            } else if (replugAfterErase_) {
                replugAfterErase_ = false;
                leaveBusLocked("unplugged after erase, back in " + n(timings_.replug.count()) +
                               " ms (fault)");
                // On its way back, as after plug(): a fresh attach running its
                // firmware, which knows nothing of the erase.
                mode_ = Mode::hid;
                const unsigned epoch = epoch_;
                loop_->post(timings_.replug, [this, epoch] { attach(epoch); });
            }
            break;
        case Command::finalStep: {
            const unsigned epoch = epoch_;
            loop_->post(timings_.leaveHid, [this, epoch] { leaveForBootloader(epoch); });
            break;
        }
        default:
            break;
    }
    changedLocked();
    return kHIDReturnSuccess;
}

// --- configuration ---

void VirtualController::setModel(char model) {
    std::lock_guard<std::mutex> hold(mutex_);
    model_ = model;
}

void VirtualController::setVersionChars(const std::string& chars) {
    std::lock_guard<std::mutex> hold(mutex_);
    versionChars_ = chars;
}

void VirtualController::setPacing(bool on) {
    std::lock_guard<std::mutex> hold(mutex_);
    pacing_ = on;
}

void VirtualController::setVerbose(bool on) {
    std::lock_guard<std::mutex> hold(mutex_);
    verbose_ = on;
}

void VirtualController::setTimings(const VirtualControllerTimings& timings) {
    std::lock_guard<std::mutex> hold(mutex_);
    timings_ = timings;
}

void VirtualController::setVolumeWatcher(SimVolumeWatcher* watcher) {
    std::lock_guard<std::mutex> hold(mutex_);
    watcher_ = watcher;
}

void VirtualController::useDirectoryVolume(const std::string& path) {
    std::lock_guard<std::mutex> hold(mutex_);
    volume_.useDirectory(path);
}

void VirtualController::useTmpfsVolume(const std::string& mountPoint, std::size_t sizeBytes) {
    std::lock_guard<std::mutex> hold(mutex_);
    volume_.useTmpfs(mountPoint, sizeBytes);
}

void VirtualController::setOldFirmwareOnVolume(bool on) {
    std::lock_guard<std::mutex> hold(mutex_);
    oldFirmware_ = on;
}

void VirtualController::setMountAfterFinalStep(bool on) {
    std::lock_guard<std::mutex> hold(mutex_);
    mountAfterFinalStep_ = on;
}

void VirtualController::setUnmountBeforeWrite(bool on) {
    std::lock_guard<std::mutex> hold(mutex_);
    unmountBeforeWrite_ = on;
}

void VirtualController::failWritesAfterDataFrames(std::size_t count) {
    std::lock_guard<std::mutex> hold(mutex_);
    failAfterData_ = count;
    writesFailing_ = false;
}

void VirtualController::unplugAtDataFrame(std::size_t k) {
    std::lock_guard<std::mutex> hold(mutex_);
    unplugAtData_ = k;
}

void VirtualController::unplugAfterErase() {
    std::lock_guard<std::mutex> hold(mutex_);
    unplugAfterErase_ = true;
}

void VirtualController::setNeverReply(bool on) {
    std::lock_guard<std::mutex> hold(mutex_);
    neverReply_ = on;
}

void VirtualController::clearFaults() {
    std::lock_guard<std::mutex> hold(mutex_);
    clearFaultsLocked();
}

void VirtualController::clearFaultsLocked() {
    failAfterData_.reset();
    writesFailing_ = false;
    unplugAtData_.reset();
    unplugAfterErase_ = false;
    neverReply_ = false;
    unmountBeforeWrite_ = false;
    deviceFault_ = DeviceFault::none;
    replugAfterErase_ = false;
    loseFinalStep_ = false;
    volumeFull_ = false;
    volume_.setFull(false);
    keepOldVersion_ = false;
}

void VirtualController::setDeviceFault(DeviceFault fault) {
    std::lock_guard<std::mutex> hold(mutex_);
    clearFaultsLocked();
    deviceFault_ = fault;
    switch (fault) {
        case DeviceFault::none:
            break;
        case DeviceFault::unplugInErase:
            unplugAfterErase_ = true;
            break;
        case DeviceFault::replugInErase:
            replugAfterErase_ = true;
            break;
        case DeviceFault::unplugInData:
            unplugAtData_ = kFaultDataFrame;
            break;
        case DeviceFault::loseFinalStep:
            loseFinalStep_ = true;
            break;
        case DeviceFault::volumeFull:
            volumeFull_ = true;
            volume_.setFull(true);
            break;
        case DeviceFault::unmountBeforeWrite:
            unmountBeforeWrite_ = true;
            break;
        case DeviceFault::keepOldVersion:
            keepOldVersion_ = true;
            break;
        case DeviceFault::noAnswer:
            neverReply_ = true;
            break;
    }
}

DeviceFault VirtualController::deviceFault() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return deviceFault_;
}

bool VirtualController::refuseFileForSpace(const std::string& name) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!volumeFull_ || !volume_.isMounted() || volume_.isTmpfs()) {
        return false;
    }
    chatter(name + " does not fit: no space left on the volume (fault)");
    return true;
}

// --- observations ---

std::string VirtualController::volumePath() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return volume_.path();
}

std::vector<Violation> VirtualController::violations() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return checker_.violations();
}

std::size_t VirtualController::violationCount() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return checker_.violations().size();
}

std::size_t VirtualController::violationCount(ViolationKind kind) const {
    std::lock_guard<std::mutex> hold(mutex_);
    const auto& all = checker_.violations();
    return static_cast<std::size_t>(std::count_if(
        all.begin(), all.end(), [kind](const Violation& v) { return v.kind == kind; }));
}

Bytes VirtualController::receivedImage() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return checker_.image();
}

std::size_t VirtualController::dataFrameCount() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return checker_.dataFrames();
}

std::size_t VirtualController::frameCount(Command command) const {
    std::lock_guard<std::mutex> hold(mutex_);
    return checker_.count(command);
}

bool VirtualController::imageComplete() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return checker_.imageComplete();
}

std::optional<Bytes> VirtualController::receivedFirmware() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return receivedFirmware_;
}

std::string VirtualController::versionChars() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return versionChars_;
}

bool VirtualController::isOnHid() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return current_ && connectedNotified_;
}

bool VirtualController::isBootloaderMounted() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return volume_.isMounted();
}

std::size_t VirtualController::connectedNotifications() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return connectedCount_;
}

std::size_t VirtualController::disconnectedNotifications() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return disconnectedCount_;
}

std::size_t VirtualController::mountCount() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return mountCount_;
}

std::size_t VirtualController::repliesSent() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return repliesSent_;
}

// --- waiting ---

bool VirtualController::waitUntil(const std::function<bool()>& condition, Timeout timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock<std::mutex> hold(mutex_);
    for (;;) {
        const unsigned long seen = generation_;
        hold.unlock();
        // Evaluated without the lock: the condition may use the accessors.
        if (condition()) {
            return true;
        }
        hold.lock();
        if (!changed_.wait_until(hold, deadline, [&] { return generation_ != seen; })) {
            return false;
        }
    }
}

bool VirtualController::waitUntilConnected(Timeout timeout) {
    return waitUntil([this] { return isOnHid(); }, timeout);
}

bool VirtualController::waitUntilDisconnected(Timeout timeout) {
    return waitUntil(
        [this] {
            std::lock_guard<std::mutex> hold(mutex_);
            return !current_ && disconnectedCount_ > 0;
        },
        timeout);
}

bool VirtualController::waitUntilBootloaderMounted(Timeout timeout) {
    return waitUntil([this] { return isBootloaderMounted(); }, timeout);
}

bool VirtualController::waitUntilUnmounted(Timeout timeout) {
    return waitUntil([this] { return !isBootloaderMounted(); }, timeout);
}

bool VirtualController::waitUntilFirmwareReceived(Timeout timeout) {
    return waitUntil([this] { return receivedFirmware().has_value(); }, timeout);
}

bool VirtualController::waitUntilBackOnHid(Timeout timeout) {
    return waitUntil(
        [this] {
            std::lock_guard<std::mutex> hold(mutex_);
            return backAfterFirmware_ && current_ && connectedNotified_;
        },
        timeout);
}

bool VirtualController::waitUntilViolations(std::size_t count, Timeout timeout) {
    return waitUntil([this, count] { return violationCount() >= count; }, timeout);
}

bool VirtualController::waitUntilReplies(std::size_t count, Timeout timeout) {
    return waitUntil([this, count] { return repliesSent() >= count; }, timeout);
}

}  // namespace tarvo::sim
