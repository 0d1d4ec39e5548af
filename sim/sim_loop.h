#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>

namespace tarvo::sim {

// The virtual controller's event loop: runs posted steps at their due time, in
// due order (steps due at the same time in posting order), and watches one
// extra descriptor. An eventfd wakes poll() for new steps and for stop();
// between events the thread sleeps in poll(). post() and stop() may be called
// from any thread; run() from one.
class SimLoop {
  public:
    using Clock = std::chrono::steady_clock;

    // `onWatchReadable` runs on the loop's thread whenever `watchFd` is
    // readable. Throws std::runtime_error when the eventfd cannot be made.
    SimLoop(int watchFd, std::function<void()> onWatchReadable);
    ~SimLoop();
    SimLoop(const SimLoop&) = delete;
    SimLoop& operator=(const SimLoop&) = delete;

    // Runs `step` on the loop's thread `delay` from now.
    void post(std::chrono::milliseconds delay, std::function<void()> step);
    // Makes run() return; steps not yet due are dropped.
    void stop();
    // Runs steps and watches the descriptor until stop().
    void run();

  private:
    void wake();

    const int wakeFd_;
    const int watchFd_;
    const std::function<void()> onWatchReadable_;
    std::mutex mutex_;
    std::multimap<Clock::time_point, std::function<void()>> steps_;
    bool stopped_ = false;
};

}  // namespace tarvo::sim
