// What the virtual controller has seen and done, and waiting for it.
#include <algorithm>

#include "sim/virtual_controller.h"

namespace tarvo::sim {

// --- observations ---

std::string VirtualController::volumePath() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return volume_.isMounted() ? volume_.path() : volumeSetupLocked().path;
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
    return waitUntil(
        [this, count] {
            std::lock_guard<std::mutex> hold(mutex_);
            return repliesSent_ >= count;
        },
        timeout);
}

}  // namespace tarvo::sim
