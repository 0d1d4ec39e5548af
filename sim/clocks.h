#pragma once

#include <algorithm>
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

// The system clock with the tool's sleeps shortened by a factor (the demo's
// --fast): its pauses and the erase wait stand for time the controller would
// take, which the simulated one does not.
//
// A long sleep is different: the tool's 10-second watchdog gives the
// controller's drive the time to appear and be written, and here that work
// runs in real time (the simulated controller's own delays, the file written
// and flushed to disk). Shortened a hundredfold it would leave 0.1 s for it,
// and whether the alert comes would depend on how busy the machine is; so a
// sleep of kLongSleepSeconds or more lasts at least kLongSleepFloorSeconds.
class ScaledClock final : public Clock {
  public:
    static constexpr double kLongSleepSeconds = 5.0;
    static constexpr double kLongSleepFloorSeconds = 2.0;

    explicit ScaledClock(double factor) : factor_(factor) {}
    double now() override { return system_.now(); }
    void sleep(double seconds) override {
        double real = seconds / factor_;
        if (seconds >= kLongSleepSeconds) {
            real = std::max(real, std::min(seconds, kLongSleepFloorSeconds));
        }
        system_.sleep(real);
    }

  private:
    SystemClock system_;
    double factor_;
};

}  // namespace tarvo::sim
