#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

// The log's writer for standard output, fed by the log's dispatcher (log.cpp),
// and what the log's writers share.
namespace tarvo::detail {

// The time `seconds` from now. NaN and negative waits are no wait; a huge one
// is capped well inside the clock's range.
inline std::chrono::steady_clock::time_point deadlineAfter(double seconds) {
    const double s = seconds > 0 ? std::min(seconds, 1e9) : 0.0;
    return std::chrono::steady_clock::now() +
           std::chrono::duration_cast<std::chrono::steady_clock::duration>(
               std::chrono::duration<double>(s));
}

// After each round the log's threads let lines gather this long before the
// next one, unless a flush waits: a burst (a line per USB frame) then costs one
// write per interval instead of one per line, and no thread is woken per line.
inline constexpr auto kLogGatherInterval = std::chrono::milliseconds(10);

// A buffer of lines larger than this is released after use, so one burst does
// not keep its memory for the rest of the run. Smaller ones are kept and
// reused: an unpaced burst of a line per frame fills well under this in one
// gather interval, so a steady stream of lines allocates nothing.
inline constexpr std::size_t kLogKeptBufferBytes = 4u << 20;

// Queues `text`, `lines` whole lines each ending in '\n', for standard output.
void queueForStdout(std::string_view text, std::uint64_t lines);

// Waits until the lines queued so far are written and flushed: false when the
// deadline passed first or a write to standard output failed.
bool flushStdout(std::chrono::steady_clock::time_point deadline);

}  // namespace tarvo::detail
