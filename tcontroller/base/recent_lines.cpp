#include "tcontroller/base/recent_lines.h"

#include "tcontroller/base/log.h"

namespace tarvo {

RecentLines::RecentLines(std::size_t capacity, std::string_view foldPrefix)
    : foldPrefix_(foldPrefix), slots_(capacity), repeats_(capacity, 0) {}

void RecentLines::add(std::string_view line) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (slots_.empty()) {
        return;
    }
    const bool folds = !foldPrefix_.empty() && line.starts_with(foldPrefix_);
    const std::size_t last = (next_ + slots_.size() - 1) % slots_.size();
    if (folds && count_ > 0 && repeats_[last] > 0) {
        slots_[last].assign(line);
        ++repeats_[last];
        return;
    }
    slots_[next_].assign(line);
    repeats_[next_] = folds ? 1 : 0;
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
        const std::size_t slot = (first + k) % slots_.size();
        out.push_back(repeats_[slot] > 1 ? slots_[slot] + " (" + std::to_string(repeats_[slot]) +
                                               " such lines, the last of them shown)"
                                         : slots_[slot]);
    }
    return out;
}

RecentLines& recentLogLines() {
    // Never destroyed, like the log's writer: a thread may log while static
    // destructors run.
    static auto* const lines = new RecentLines(kRecentLogLines, kFrameLinePrefix);
    return *lines;
}

}  // namespace tarvo
