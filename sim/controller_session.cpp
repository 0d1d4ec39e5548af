#include "sim/controller_session.h"

#include <mutex>

#include "sim/virtual_controller.h"

namespace tarvo::sim {
namespace {

// Held while the forwarding connections are made, and taken by each forward
// before it reads what its connection holds: the controllers' threads may be
// running already, and Qt's own locking of a connection is invisible to the
// thread sanitizer.
std::mutex& connections() {
    static std::mutex lock;
    return lock;
}

}  // namespace

ControllerSession::ControllerSession(VirtualController& controller)
    : ControllerSession(std::vector<VirtualController*>{&controller}) {}

ControllerSession::ControllerSession(std::vector<VirtualController*> controllers)
    : controllers_(std::move(controllers)) {
    const std::lock_guard<std::mutex> made(connections());
    for (VirtualController* controller : controllers_) {
        forward(controller, &HidMonitor::HIDDeviceConnected);
        forward(controller, &HidMonitor::HIDDeviceDisconnected);
        forward(controller, &HidMonitor::HIDDeviceDataReceived);
    }
}

template <typename... Args>
void ControllerSession::forward(VirtualController* controller,
                                void (HidMonitor::*signal)(Args...)) {
    // Forwarded on the controller's thread, under the lock: stop() waits for a
    // notification on its way to the window, and the controllers' threads
    // take turns, as one monitor thread would deliver them.
    connect(
        controller, signal, this,
        [this, signal](Args... values) {
            { const std::lock_guard<std::mutex> made(connections()); }
            std::lock_guard<std::mutex> hold(mutex_);
            // Nothing before start(): those who listen connect before the
            // monitor starts, and start() reports what is attached then.
            if (started_ && !stopping_) {
                emit(this->*signal)(values...);
            }
        },
        Qt::DirectConnection);
}

ControllerSession::~ControllerSession() {
    stop();
    for (VirtualController* controller : controllers_) {
        disconnect(controller, nullptr, this, nullptr);
    }
}

void ControllerSession::start() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        started_ = true;
    }
    for (VirtualController* controller : controllers_) {
        controller->announceAttachment();
    }
    std::unique_lock<std::mutex> hold(mutex_);
    stopped_.wait(hold, [this] { return stopping_; });
}

void ControllerSession::stop() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        stopping_ = true;
    }
    stopped_.notify_all();
}

}  // namespace tarvo::sim
