#pragma once

#include <functional>
#include <optional>
#include <string>

#include "tcontroller/base/util.h"

namespace tarvo {

// Maps an English source text of the window to the user's language.
using TranslateText = std::function<std::string(const char* source)>;

// Everything the main window depends on, read from the updater state at one
// moment. Plain values, no Qt: what the window shows is a function of this.
struct WindowState {
    Util::UpSta sta = Util::UpSta::none;
    Util::UpMode mode = Util::UpMode::none;
    std::string title{};    // the title line
    bool attached = false;  // a controller is on the bus
    // The controller answered its identification as the supported model with
    // its firmware version.
    bool identified = false;
    std::string otherModel{};  // the model code of an unsupported controller
    bool identifyTimedOut = false;
    std::string fw{};  // the controller's firmware version as read
    // The newest release known (built-in, or the newest published one).
    std::string newest{};
    bool hasNetwork = false;
    bool mountWithFiles = false;  // the bootloader volume is mounted, both files held
    bool finalStep = false;
    std::optional<Util::Histoty> selected{};
    bool checkingReleases = false;  // a press waits for the release list
    std::string monitorError{};     // the HID monitor cannot watch the bus
    std::string failureNote{};      // a failure with a cause of its own to tell
    std::string volumeNote{};       // the bootloader volume could not be mounted
    // A drive labelled like the bootloader's was found but left alone.
    std::string foreignDriveNote{};
    // An update a restart interrupted is being finished.
    std::string resumeNote{};
    // The window's texts are English source texts (marked for Qt's translation
    // tools in context "WindowState"); this maps each to the user's language
    // before values fill its %1 and %2. Unset, the window is English.
    TranslateText translate{};
    // A release's files are on their way; downloadNote says which.
    bool downloading = false;
    // While downloading: what is downloaded. After a failed download: what
    // happened and what to do. Empty otherwise.
    std::string downloadNote{};
};

// What each view of the main window shows.
struct WindowView {
    std::string title{};
    std::string product{};
    std::string firmware{};
    std::string message{};
    // The message is the styled failure text: "Update Fail!" in red, then
    // `message` as its second part.
    bool failure = false;
    bool modeChosen = false;  // OK/CANCEL faces instead of the two update faces
    bool leftEnabled = true;
    bool rightEnabled = true;
    bool closeShown = true;
    bool okShown = false;
    bool progressShown = false;  // the bar and the stage line under it
    bool cancelShown = false;    // the Cancel of a download
    bool detailsShown = false;   // "Copy details" for support
};

// The window for a state. The rules stack: the idle baseline, the attached
// controller and its offer, the volume being written, the prepared update,
// then the update status, each overriding what came before; last come the
// cases the plain window has no words for (an unsupported or silent
// controller, a press waiting for the release list, a monitor that cannot
// start, a failure with its own cause, a download running or failed, a drive
// that only looks like the controller's).
WindowView windowFor(const WindowState& state);

}  // namespace tarvo
