#include "tcontroller/update/update_progress.h"

#include <algorithm>
#include <cmath>

namespace tarvo {
namespace {

// Whole seconds, rounded up: "1 s left" until the very end.
int wholeSecondsLeft(double seconds) {
    return static_cast<int>(std::ceil(std::max(seconds, 0.0) - 1e-9));
}

// The pauses before the data frames 0 .. n-1 (one before frame 0, 10000, ...).
std::size_t pausesBefore(std::size_t n) {
    return n == 0 ? 0 : (n - 1) / kFramesPerPause + 1;
}

}  // namespace

ProgressLine eraseProgress(double elapsed) {
    const double left = kEraseSeconds - elapsed;
    const double done = std::clamp(elapsed / kEraseSeconds, 0.0, 1.0);
    return {UpdateStage::erase, static_cast<int>(done * 100), wholeSecondsLeft(left)};
}

ProgressLine transferProgress(std::size_t next, std::size_t frames) {
    next = std::min(next, frames);
    const std::size_t reportsLeft = frames - next + 2;  // and the final frame and the end command
    const std::size_t pausesLeft = pausesBefore(frames) - pausesBefore(next);
    const double left =
        static_cast<double>(reportsLeft) * kSecondsPerReport + static_cast<double>(pausesLeft);
    const int percent = frames == 0 ? 100 : static_cast<int>(next * 100 / frames);
    return {UpdateStage::transfer, percent, wholeSecondsLeft(left)};
}

ProgressLine downloadProgress(std::uint64_t received, std::uint64_t total) {
    if (total == 0) {
        return {UpdateStage::download, -1, -1};
    }
    const std::uint64_t capped = std::min(received, total);
    return {UpdateStage::download, static_cast<int>(capped * 100 / total), -1};
}

const char* stageName(UpdateStage stage) {
    switch (stage) {
        case UpdateStage::erase:
            return "erase";
        case UpdateStage::transfer:
            return "transfer";
        case UpdateStage::finalStep:
            return "final_step";
        case UpdateStage::waitingForDrive:
            return "waiting_for_drive";
        case UpdateStage::firmwareWrite:
            return "firmware_write";
        case UpdateStage::verification:
            return "verification";
        case UpdateStage::download:
            return "download";
        case UpdateStage::none:
            break;
    }
    return "none";
}

}  // namespace tarvo
