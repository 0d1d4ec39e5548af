#pragma once

#include <mutex>
#include <vector>

#include "tcontroller/platform/desktop_notifier.h"
#include "tcontroller/platform/sleep_inhibitor.h"

namespace tarvo::sim {

// A sleep inhibitor that only counts: what the tool asked for, and whether it
// holds the inhibition now.
class SimSleepInhibitor final : public SleepInhibitor {
  public:
    Result<void> inhibit() override {
        std::lock_guard<std::mutex> hold(mutex_);
        if (!held_) {
            held_ = true;
            ++taken_;
        }
        return Result<void>::success();
    }
    void release() override {
        std::lock_guard<std::mutex> hold(mutex_);
        held_ = false;
    }
    bool held() const override {
        std::lock_guard<std::mutex> hold(mutex_);
        return held_;
    }
    int timesTaken() const {
        std::lock_guard<std::mutex> hold(mutex_);
        return taken_;
    }

  private:
    mutable std::mutex mutex_;
    bool held_ = false;
    int taken_ = 0;
};

// A notification area that keeps what it was shown.
class SimNotifier final : public DesktopNotifier {
  public:
    void notify(const DesktopNotification& notification) override {
        std::lock_guard<std::mutex> hold(mutex_);
        shown_.push_back(notification);
    }
    std::vector<DesktopNotification> shown() const {
        std::lock_guard<std::mutex> hold(mutex_);
        return shown_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<DesktopNotification> shown_;
};

}  // namespace tarvo::sim
