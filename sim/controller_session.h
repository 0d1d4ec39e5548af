#pragma once

#include <condition_variable>
#include <mutex>
#include <vector>

#include "tcontroller/platform/hid_monitor.h"

namespace tarvo::sim {

class VirtualController;

// One run of the tool's view of virtual controllers that outlive it, as real
// controllers outlive a restart of the tool: one HID monitor for all of them,
// each reporting its own device records. The controllers' own loops run
// elsewhere; start() has every controller report its attachment again (a
// monitor reports what is attached when it starts) and then waits for stop(),
// forwarding the controllers' notifications meanwhile, one at a time. After
// stop() returns nothing more is forwarded.
class ControllerSession : public HidMonitor {
    Q_OBJECT
  public:
    explicit ControllerSession(VirtualController& controller);
    explicit ControllerSession(std::vector<VirtualController*> controllers);
    ~ControllerSession() override;

    void start() override;
    void stop() override;

  private:
    // Re-emits `controller`'s `signal` as this session's own until stop().
    template <typename... Args>
    void forward(VirtualController* controller, void (HidMonitor::*signal)(Args...));

    const std::vector<VirtualController*> controllers_;
    std::mutex mutex_;  // held while a notification is forwarded
    std::condition_variable stopped_;
    bool started_ = false;  // start() was called: notifications are forwarded
    bool stopping_ = false;
};

}  // namespace tarvo::sim
