#include "sim/controller_session.h"

#include "sim/virtual_controller.h"

namespace tarvo::sim {

ControllerSession::ControllerSession(VirtualController& controller) : controller_(controller) {
    // Forwarded on the controller's thread, under the lock: stop() waits for a
    // notification on its way to the window.
    connect(
        &controller_, &HidMonitor::HIDDeviceConnected, this,
        [this](const HIDDevicePtr& device) {
            std::lock_guard<std::mutex> hold(mutex_);
            if (!stopping_) {
                emit HIDDeviceConnected(device);
            }
        },
        Qt::DirectConnection);
    connect(
        &controller_, &HidMonitor::HIDDeviceDisconnected, this,
        [this](const HIDDevicePtr& device) {
            std::lock_guard<std::mutex> hold(mutex_);
            if (!stopping_) {
                emit HIDDeviceDisconnected(device);
            }
        },
        Qt::DirectConnection);
    connect(
        &controller_, &HidMonitor::HIDDeviceDataReceived, this,
        [this](const QByteArray& data) {
            std::lock_guard<std::mutex> hold(mutex_);
            if (!stopping_) {
                emit HIDDeviceDataReceived(data);
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
