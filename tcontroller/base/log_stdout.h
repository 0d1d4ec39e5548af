#pragma once

#include <chrono>
#include <cstdint>
#include <string_view>

#include "tcontroller/base/batch_writer.h"

// The log's writer for standard output, fed by the log's dispatcher (log.cpp).
namespace tarvo::detail {

// Queues `text`, `lines` whole lines each ending in '\n', for standard output.
void queueForStdout(std::string_view text, std::uint64_t lines);

// Waits until the lines queued so far are written and flushed: false when the
// deadline passed first or a write to standard output failed.
bool flushStdout(std::chrono::steady_clock::time_point deadline);

}  // namespace tarvo::detail
