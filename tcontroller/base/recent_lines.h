#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo {

// The last lines of a stream of lines, kept in memory: a fixed number of slots
// reused in turn, so keeping a line costs one string copy into a slot whose
// buffer usually fits already. A run of lines that start with `foldPrefix`
// takes one slot (its latest line, and how many there were), so thousands of
// per-frame lines do not push out what came before them. Safe to use from any
// thread.
class RecentLines {
  public:
    explicit RecentLines(std::size_t capacity, std::string_view foldPrefix = {});
    void add(std::string_view line);
    // The kept lines, oldest first.
    std::vector<std::string> lines() const;

  private:
    mutable std::mutex mutex_;
    std::string foldPrefix_;
    std::vector<std::string> slots_;
    std::vector<std::size_t> repeats_;  // lines folded into each slot
    std::size_t next_ = 0;              // the slot the next line goes to
    std::size_t count_ = 0;             // slots in use
};

// How many of the log's latest lines a support report carries.
inline constexpr std::size_t kRecentLogLines = 200;

// The log's latest lines: logLine adds every line here too.
RecentLines& recentLogLines();

}  // namespace tarvo
