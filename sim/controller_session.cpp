#include "sim/controller_session.h"

#include "sim/virtual_controller.h"

namespace tarvo::sim {

ControllerSession::ControllerSession(VirtualController& controller) : controller_(controller) {
    forward(&HidMonitor::HIDDeviceConnected);
    forward(&HidMonitor::HIDDeviceDisconnected);
    forward(&HidMonitor::HIDDeviceDataReceived);
}

template <typename Arg>
void ControllerSession::forward(void (HidMonitor::*signal)(Arg)) {
    // Forwarded on the controller's thread, under the lock: stop() waits for a
    // notification on its way to the window.
    connect(
        &controller_, signal, this,
        [this, signal](Arg value) {
            std::lock_guard<std::mutex> hold(mutex_);
            if (!stopping_) {
                emit(this->*signal)(value);
            }
        },
        Qt::DirectConnection);
}

ControllerSession::~ControllerSession() {
    stop();
    disconnect(&controller_, nullptr, this, nullptr);
}

void ControllerSession::start() {
    controller_.announceAttachment();
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
