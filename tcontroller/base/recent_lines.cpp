#include "tcontroller/base/recent_lines.h"

namespace tarvo {

RecentLines::RecentLines(std::size_t capacity) : slots_(capacity) {}

void RecentLines::add(std::string_view line) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (slots_.empty()) {
        return;
    }
    slots_[next_].assign(line);
    next_ = (next_ + 1) % slots_.size();
    if (count_ < slots_.size()) {
        ++count_;
    }
}

std::vector<std::string> RecentLines::lines() const {
    std::lock_guard<std::mutex> hold(mutex_);
    std::vector<std::string> out;
    out.reserve(count_);
    // Until the slots are all used the oldest line is in the first one.
    const std::size_t first = count_ < slots_.size() ? 0 : next_;
    for (std::size_t k = 0; k < count_; ++k) {
        out.push_back(slots_[(first + k) % slots_.size()]);
    }
    return out;
}

RecentLines& recentLogLines() {
    // Never destroyed, like the log's writer: a thread may log while static
    // destructors run.
    static auto* const lines = new RecentLines(kRecentLogLines);
    return *lines;
}

}  // namespace tarvo
