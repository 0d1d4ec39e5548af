#pragma once

#include <condition_variable>
#include <mutex>

#include "tcontroller/platform/hid_monitor.h"

namespace tarvo::sim {

class VirtualController;

// One run of the tool's view of a virtual controller that outlives it, as a
// real controller outlives a restart of the tool. The controller's own loop
// runs elsewhere; start() has the controller report its attachment again (a
// monitor reports what is attached when it starts) and then waits for stop(),
// forwarding the controller's notifications meanwhile. After stop() returns
// nothing more is forwarded.
class ControllerSession : public HidMonitor {
    Q_OBJECT
  public:
    explicit ControllerSession(VirtualController& controller);
    ~ControllerSession() override;

    void start() override;
    void stop() override;

  private:
    // Re-emits the controller's `signal` as this session's own until stop().
    template <typename Arg>
    void forward(void (HidMonitor::*signal)(Arg));

    VirtualController& controller_;
    std::mutex mutex_;  // held while a notification is forwarded
    std::condition_variable stopped_;
    bool stopping_ = false;
};

}  // namespace tarvo::sim
