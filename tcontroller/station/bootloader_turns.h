#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <string>

namespace tarvo {

// The bootloader stage (final step, drive, firmware, return) one port at a
// time, so that at most one "CRP DISABLE" drive is expected at any moment.
// A port's transfer thread waits for its turn; the main thread grants turns
// in port order while none is held, and ends them. No Qt.
class BootloaderTurns {
  public:
    // `wanted` runs on the waiting thread when a port starts to wait, so the
    // owner can have grantNext() called where turns are granted.
    explicit BootloaderTurns(std::function<void()> wanted);

    // Blocks until `port` holds the turn (true) or the turns were stopped
    // (false).
    bool await(const std::string& port);
    // Grants the turn to the first waiting port when no port holds it.
    // Returns that port, or empty when nothing was granted.
    std::string grantNext();
    // Ends `port`'s turn; false when it did not hold it.
    bool release(const std::string& port);
    bool holds(const std::string& port) const;
    // The port that holds the turn, or empty.
    std::string holder() const;
    // From now on every wait, running or to come, returns false.
    void stop();

  private:
    std::function<void()> wanted_;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::set<std::string> waiting_;
    std::string holder_;
    bool stopped_ = false;
};

}  // namespace tarvo
