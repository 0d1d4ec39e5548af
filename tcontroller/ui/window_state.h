#pragma once

#include <functional>
#include <string>

#include "tcontroller/base/util.h"
#include "tcontroller/update/update_snapshot.h"

namespace tarvo {

// Maps an English source text of the window to the user's language.
using TranslateText = std::function<std::string(const char* source)>;

// Everything the main window depends on: the engine's state at one moment,
// the title line and the user's language. Plain values, no Qt: what the
// window shows is a function of this.
struct WindowState : UpdateSnapshot {
    std::string title{};  // the title line
    // The window's texts are English source texts (marked for Qt's translation
    // tools in context "WindowState"); this maps each to the user's language
    // before values fill its %1 and %2. Unset, the window is English.
    TranslateText translate{};
};

// What each view of the main window shows.
struct WindowView {
    // The control that takes the keyboard focus when the view appears: the
    // screen's primary action.
    enum class Focus { unchanged, left, ok };

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
    Focus focus = Focus::unchanged;
    // The message is news a screen reader should announce at once (a failure,
    // a verified update), not only a label that changed.
    bool announced = false;
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
