#include "sim/virtual_controller.h"

#include <QByteArray>
#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <thread>

#include "sim/controller_wire.h"
#include "sim/sim_loop.h"

namespace tarvo::sim {

// ---------------------------------------------------------------------------
// VirtualDevice

VirtualDevice::VirtualDevice(VirtualController* owner, int serial, std::string port)
    : owner_(owner), serial_(serial), port_(std::move(port)) {}

Result<void> VirtualDevice::setReport(int reportType, std::uint8_t reportId,
                                      const std::uint8_t* bytes, std::size_t length) {
    // Held for the whole write: writes through one record reach the controller
    // one at a time, like reports on one endpoint, and the controller cannot be
    // destroyed under a write.
    std::lock_guard<std::mutex> hold(mutex_);
    if (owner_ == nullptr) {
        return Result<void>::failure(name() + ": the virtual controller is gone");
    }
    return owner_->receive(this, reportType, reportId, bytes, length);
}

std::string VirtualDevice::name() const {
    return "virtual controller " + (port_.empty() ? std::string() : port_ + " ") + "#" +
           std::to_string(serial_);
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
    if (config_.verbose) {
        std::fprintf(stderr, "virtual controller %s: %s\n", config_.port.c_str(), line.c_str());
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

void VirtualController::announceAttachment() {
    std::lock_guard<std::mutex> hold(mutex_);
    if (mode_ != Mode::hid || !current_) {
        return;
    }
    const std::shared_ptr<VirtualDevice> device = current_;
    loop_->post(std::chrono::milliseconds(0), [this, device] {
        {
            std::lock_guard<std::mutex> again(mutex_);
            if (current_ != device) {
                return;
            }
        }
        emit HIDDeviceConnected(device);
    });
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

void VirtualController::attach(unsigned epoch) {
    std::shared_ptr<VirtualDevice> device;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (epoch != epoch_ || current_) {
            return;
        }
        device = std::make_shared<VirtualDevice>(this, ++serials_, config_.port);
        issued_.push_back(device);
        current_ = device;
        mode_ = Mode::hid;
        connectedNotified_ = false;
        chatter("on HID as " + device->name() + ", firmware " + config_.versionChars);
    }
    emit HIDDeviceConnected(device);

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

void VirtualController::emitDisconnected(const HIDDevicePtr& device) {
    emit HIDDeviceDisconnected(device);
    std::lock_guard<std::mutex> hold(mutex_);
    ++disconnectedCount_;
    changedLocked();
}

void VirtualController::sendReply(const std::weak_ptr<VirtualDevice>& to, Bytes reply) {
    HIDDevicePtr device;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (to.lock() != current_ || !current_) {
            return;  // the controller left the bus before it could answer
        }
        device = current_;
    }
    emit HIDDeviceDataReceived(device, QByteArray(reinterpret_cast<const char*>(reply.data()),
                                                  static_cast<qsizetype>(reply.size())));
    std::lock_guard<std::mutex> hold(mutex_);
    ++repliesSent_;
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

Result<void> VirtualController::receive(VirtualDevice* device, int reportType,
                                        std::uint8_t reportId, const std::uint8_t* bytes,
                                        std::size_t length) {
    bool pacing = false;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        pacing = config_.pacing;
    }
    if (pacing) {
        waitForSlot();
    }
    std::lock_guard<std::mutex> hold(mutex_);
    if (!current_ || current_.get() != device) {
        chatter("write through a detached record refused");
        return Result<void>::failure(device->name() + ": the controller has left the bus");
    }
    const bool isData = bytes != nullptr && length > 4 && bytes[4] == wire::kData;
    if (faults_.failWritesAfterDataFrames &&
        (writesFailing_ ||
         (isData && checker_.dataFrames() >= *faults_.failWritesAfterDataFrames))) {
        writesFailing_ = true;
        chatter("write refused (fault)");
        return Result<void>::failure(device->name() + ": the controller refused the write");
    }
    if (faults_.unplugAtDataFrame && isData &&
        checker_.dataFrames() == *faults_.unplugAtDataFrame) {
        faults_.unplugAtDataFrame.reset();
        leaveBusLocked("unplugged at data frame " + std::to_string(checker_.dataFrames()) +
                       " (fault)");
        return Result<void>::failure(device->name() + ": the controller has left the bus");
    }

    const Command command = checker_.take(reportType, reportId, bytes, length);
    // A reply goes out from the loop, never inside this call, and at least a
    // millisecond later: the tool marks the reply as awaited only once the
    // write has returned.
    const auto replyDelay = std::max(config_.timings.reply, std::chrono::milliseconds(1));
    const std::weak_ptr<VirtualDevice> to = current_;
    switch (command) {
        case Command::modelRequest:
            if (!faults_.neverReply) {
                loop_->post(replyDelay,
                            [this, to, r = wire::modelReply(config_.model)] { sendReply(to, r); });
            }
            break;
        case Command::versionRequest:
            if (!faults_.neverReply) {
                loop_->post(replyDelay, [this, to, r = wire::versionReply(config_.versionChars)] {
                    sendReply(to, r);
                });
            }
            break;
        case Command::erase:
            if (faults_.unplugAfterErase) {
                faults_.unplugAfterErase = false;
                leaveBusLocked("unplugged after erase (fault)");
            } else if (faults_.replugAfterErase) {
                faults_.replugAfterErase = false;
                leaveBusLocked("unplugged after erase, back in " +
                               std::to_string(config_.timings.replug.count()) + " ms (fault)");
                // On its way back, as after plug(): a fresh attach running its
                // firmware, which knows nothing of the erase.
                mode_ = Mode::hid;
                const unsigned epoch = epoch_;
                loop_->post(config_.timings.replug, [this, epoch] { attach(epoch); });
            }
            break;
        case Command::finalStep: {
            const unsigned epoch = epoch_;
            loop_->post(config_.timings.leaveHid, [this, epoch] { leaveForBootloader(epoch); });
            break;
        }
        default:
            break;
    }
    changedLocked();
    return Result<void>::success();
}

// --- configuration and faults ---

VirtualController::Faults VirtualController::Faults::of(DeviceFault fault) {
    Faults faults;
    switch (fault) {
        case DeviceFault::none:
            break;
        case DeviceFault::unplugInErase:
            faults.unplugAfterErase = true;
            break;
        case DeviceFault::replugInErase:
            faults.replugAfterErase = true;
            break;
        case DeviceFault::unplugInData:
            faults.unplugAtDataFrame = kFaultDataFrame;
            break;
        case DeviceFault::loseFinalStep:
            faults.loseFinalStep = true;
            break;
        case DeviceFault::volumeFull:
            faults.volumeFull = true;
            break;
        case DeviceFault::unmountBeforeWrite:
            faults.unmountBeforeWrite = true;
            break;
        case DeviceFault::keepOldVersion:
            faults.keepOldVersion = true;
            break;
        case DeviceFault::noAnswer:
            faults.neverReply = true;
            break;
    }
    return faults;
}

VirtualController::Config VirtualController::config() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return config_;
}

void VirtualController::updateConfig(const std::function<void(Config&)>& change) {
    std::lock_guard<std::mutex> hold(mutex_);
    Config next = config_;
    change(next);
    // A version of another length would go out cut short or padded.
    if (next.versionChars.size() != 3) {
        throw std::invalid_argument(
            "virtual controller: the firmware version must be three characters as reported "
            "(\"110\" for 1.1), not \"" +
            next.versionChars + "\"");
    }
    config_ = std::move(next);
}

void VirtualController::setFaults(const Faults& faults) {
    updateFaults([&faults](Faults& current) { current = faults; });
}

VirtualController::Faults VirtualController::faults() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return faults_;
}

void VirtualController::updateFaults(const std::function<void(Faults&)>& change) {
    std::lock_guard<std::mutex> hold(mutex_);
    change(faults_);
    writesFailing_ = false;
}

}  // namespace tarvo::sim
