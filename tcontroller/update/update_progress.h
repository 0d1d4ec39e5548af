#pragma once

#include <cstddef>
#include <cstdint>

#include "tcontroller/device/controller_link.h"

namespace tarvo {

// The stages of an update in the order they run, for the line under the
// progress bar and for naming the stage a failure happened in.
enum class UpdateStage {
    none,
    erase,            // the erase command and the fixed erase wait
    transfer,         // the image in data frames
    finalStep,        // the command that restarts the controller as its drive
    waitingForDrive,  // until the controller's drive CRP DISABLE mounts
    firmwareWrite,    // FW.bin written onto that drive
    verification,     // the version the controller comes back with
    download,         // a release's files from the firmware server
};

// The stage's name in reports and JSON ("erase", "transfer", "final_step", ...).
const char* stageName(UpdateStage stage);

// The fixed timing of an update, the transfer's own, for its estimate.
inline constexpr int kEraseSeconds = static_cast<int>(ControllerLink::kEraseSeconds);
inline constexpr std::size_t kFramesPerPause = ControllerLink::kFramesPerPause;
// The controller takes one report per millisecond (a full-speed interrupt endpoint).
inline constexpr double kSecondsPerReport = 0.001;

// What the line under the bar says: the stage, how far it is (percent) and
// the whole seconds left (-1: not known).
struct ProgressLine {
    UpdateStage stage = UpdateStage::none;
    int percent = -1;
    int secondsLeft = -1;
    bool operator==(const ProgressLine&) const = default;
};

// The erase wait `elapsed` seconds (of the tool's clock) after it began.
ProgressLine eraseProgress(double elapsed);
// The image transfer before data frame `next` of `frames` is sent: what is
// left is the rest of the data frames, the final frame and the end command at
// one report per millisecond, plus the one-second pauses still ahead.
ProgressLine transferProgress(std::size_t next, std::size_t frames);
// A download of `received` of `total` bytes (total 0: not announced).
ProgressLine downloadProgress(std::uint64_t received, std::uint64_t total);

}  // namespace tarvo
