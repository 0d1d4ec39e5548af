#pragma once

#include <string>

#include "tcontroller/update/update_progress.h"

namespace tarvo {

// One controller of the station, as plain values: the row of the station's
// table and of its report.
struct StationRow {
    std::string port;    // the USB port it is on ("1-1.2")
    std::string model;   // the model code it reported; empty until it answered
    std::string before;  // its firmware when the station first read it
    std::string after;   // the firmware it came back with after an update
    bool attached = false;
    bool supported = false;  // it answered as the supported model, with its version
    // Where its update stands.
    enum class State {
        idle,      // nothing asked of it (or it is not supported)
        queued,    // an update is asked; waiting for its release or its turn
        updating,  // erase, image, final step, drive, firmware, verification
        verified,  // installed and verified: `after` is the version
        failed,    // `failedStep` and `reason` say what happened
    };
    State state = State::idle;
    std::string target;                     // the release it is to get, or got
    UpdateStage stage = UpdateStage::none;  // while updating: the stage
    int percent = -1;                       // while updating: of the whole update
    int secondsLeft = -1;                   // while updating: of the stage; -1 unknown
    std::string failedStep;                 // when failed: the stage's name
    std::string reason;                     // when failed: what happened
    double seconds = 0;                     // when finished: how long the update took
    bool operator==(const StationRow&) const = default;
};

}  // namespace tarvo
