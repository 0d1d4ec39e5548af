#include "sim/clocks.h"

#include <thread>

namespace tarvo::sim {

InstantClock::InstantClock() : now_(SystemClock().now()) {}

double InstantClock::now() {
    return now_.load();
}

void InstantClock::sleep(double seconds) {
    if (seconds <= 0) {
        return;
    }
    {
        std::unique_lock<std::mutex> hold(mutex_);
        sleeps_.push_back(seconds);
        if (holdThreshold_ >= 0 && seconds >= holdThreshold_) {
            ++held_;
            released_.wait(
                hold, [this, seconds] { return holdThreshold_ < 0 || seconds < holdThreshold_; });
            --held_;
        }
    }
    now_.fetch_add(seconds);
    slept_.fetch_add(seconds);
    // Let other threads run, as a real sleep would.
    std::this_thread::yield();
}

void InstantClock::holdSleepsOfAtLeast(double seconds) {
    std::lock_guard<std::mutex> hold(mutex_);
    holdThreshold_ = seconds;
}

void InstantClock::release() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        holdThreshold_ = -1;
    }
    released_.notify_all();
}

int InstantClock::heldSleepers() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return held_;
}

double InstantClock::slept() const {
    return slept_.load();
}

int InstantClock::sleepsOf(double seconds) const {
    std::lock_guard<std::mutex> hold(mutex_);
    int n = 0;
    for (double s : sleeps_) {
        n += s == seconds ? 1 : 0;
    }
    return n;
}

}  // namespace tarvo::sim
