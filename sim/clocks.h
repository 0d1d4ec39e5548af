#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "tcontroller/base/clock.h"

namespace tarvo::sim {

// A clock whose sleeps return at once: virtual time advances by each sleep, so
// the tool's 35-second erase wait and 1-second pauses cost nothing. Sleeps of at
// least a chosen length can be held until released, which keeps a watchdog from
// firing before the test wants it to.
class InstantClock final : public Clock {
  public:
    InstantClock();
    double now() override;
    void sleep(double seconds) override;

    // Sleeps of `seconds` or longer block until release() (or until the hold is
    // lifted). Shorter sleeps stay instant.
    void holdSleepsOfAtLeast(double seconds);
    // Lets every held sleep (and every later one) pass.
    void release();
    int heldSleepers() const;
    // Total virtual seconds slept so far.
    double slept() const;
    // How many sleeps of exactly `seconds` were taken so far.
    int sleepsOf(double seconds) const;

  private:
    std::atomic<double> now_;
    std::atomic<double> slept_{0};
    mutable std::mutex mutex_;
    std::condition_variable released_;
    double holdThreshold_ = -1;  // < 0: nothing is held
    int held_ = 0;
    std::vector<double> sleeps_;
};

// The system clock with every sleep shortened by a factor (the demo's --fast).
class ScaledClock final : public Clock {
  public:
    explicit ScaledClock(double factor) : factor_(factor) {}
    double now() override { return system_.now(); }
    void sleep(double seconds) override { system_.sleep(seconds / factor_); }

  private:
    SystemClock system_;
    double factor_;
};

}  // namespace tarvo::sim
