#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tcontroller/base/util.h"
#include "tcontroller/update/update_progress.h"

namespace tarvo {

// What the update engine knows at one moment, as plain values: every front
// end (the window, a command line) shows a function of this and nothing else.
struct UpdateSnapshot {
    Util::UpSta sta = Util::UpSta::none;
    Util::UpMode mode = Util::UpMode::none;
    bool attached = false;  // a controller is on the bus
    // How many controllers are on the bus: with more than one the engine
    // updates none of them (which one would be meant?) and keeps the first.
    int controllersAttached = 0;
    // The controller answered its identification as the supported model with
    // its firmware version.
    bool identified = false;
    std::string model{};       // the model code the controller reported, as read
    std::string otherModel{};  // the model code of an unsupported controller
    bool identifyTimedOut = false;
    std::string fw{};  // the controller's firmware version as read
    // The newest release known (built-in, or the newest published one).
    std::string newest{};
    bool hasNetwork = false;
    // The published releases, newest first (empty without a network).
    std::vector<Util::Histoty> releases{};
    bool filesHeld = false;       // both files of the prepared release are held
    bool driveMounted = false;    // the controller's bootloader drive is mounted
    bool mountWithFiles = false;  // the bootloader volume is mounted, both files held
    bool finalStep = false;
    // The release a prepared update installs, while one is prepared.
    std::optional<Util::Histoty> selected{};
    bool checkingReleases = false;  // a press waits for the release list
    std::string monitorError{};     // the HID monitor cannot watch the bus
    std::string failureNote{};      // a failure with a cause of its own to tell
    // What happened, without the window's instructions (the station's and
    // the command line's reason).
    std::string failureCause{};
    std::string volumeNote{};  // the bootloader volume could not be mounted
    // A drive labelled like the bootloader's was found but left alone.
    std::string foreignDriveNote{};
    // An update a restart interrupted is being finished.
    std::string resumeNote{};
    // A release's files are on their way; downloadNote says which.
    bool downloading = false;
    // While downloading: what is downloaded. After a failed download: what
    // happened and what to do. Empty otherwise.
    std::string downloadNote{};
    // The stage the update is in (or failed in).
    UpdateStage stage = UpdateStage::none;
    // The firmware was written: "Update complete!" waits to be acknowledged.
    bool complete = false;
    // The final step is overdue: the user is asked to replug the controller.
    bool replugAlert = false;
    // The version the controller came back with after a verified update.
    std::string verifiedVersion{};
};

// Marks a source text for Qt's translation tools; this header stays free of Qt.
#ifndef QT_TRANSLATE_NOOP
#define QT_TRANSLATE_NOOP(scope, text) text
#endif

// The failure text when the failure has no cause of its own to tell (an
// English source text in context "WindowState").
inline constexpr const char* kGeneralFailureText = QT_TRANSLATE_NOOP(
    "WindowState",
    "If this message appears for more than 10 seconds, please keep the Update Tool "
    "running(WARNING: Don't close the Update Tool) and replug USB cable to finish update.");

}  // namespace tarvo
