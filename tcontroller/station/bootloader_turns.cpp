// One bootloader stage at a time among the station's controllers.
#include "tcontroller/station/bootloader_turns.h"

namespace tarvo {

BootloaderTurns::BootloaderTurns(std::function<void()> wanted) : wanted_(std::move(wanted)) {}

bool BootloaderTurns::await(const std::string& port) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (stopped_) {
            return false;
        }
        waiting_.insert(port);
    }
    if (wanted_) {
        wanted_();
    }
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [&] { return stopped_ || holder_ == port; });
    waiting_.erase(port);
    return !stopped_;
}

std::string BootloaderTurns::grantNext() {
    std::lock_guard<std::mutex> hold(lock_);
    if (stopped_ || !holder_.empty() || waiting_.empty()) {
        return {};
    }
    holder_ = *waiting_.begin();
    waiting_.erase(waiting_.begin());
    changed_.notify_all();
    return holder_;
}

bool BootloaderTurns::release(const std::string& port) {
    std::lock_guard<std::mutex> hold(lock_);
    if (port.empty() || holder_ != port) {
        return false;
    }
    holder_.clear();
    return true;
}

bool BootloaderTurns::holds(const std::string& port) const {
    std::lock_guard<std::mutex> hold(lock_);
    return !port.empty() && holder_ == port;
}

std::string BootloaderTurns::holder() const {
    std::lock_guard<std::mutex> hold(lock_);
    return holder_;
}

void BootloaderTurns::stop() {
    std::lock_guard<std::mutex> hold(lock_);
    stopped_ = true;
    changed_.notify_all();
}

}  // namespace tarvo
