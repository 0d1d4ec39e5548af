#include "tcontroller/ui/window_state.h"

#include "tcontroller/catalogue/version.h"

// Marks a source text for Qt's translation tools (lupdate reads the macro's
// name); this file stays free of Qt, so the macro is defined here.
#ifndef QT_TRANSLATE_NOOP
#define QT_TRANSLATE_NOOP(scope, text) text
#endif

namespace tarvo {
namespace {

using UpSta = Util::UpSta;
using UpMode = Util::UpMode;

const char* const kProductName = "Tarvo Remote";
const char* const kUpdateOffer =
    QT_TRANSLATE_NOOP("WindowState", "*Update Recommanded Click \"UPDATE TO NEWEST\"");
const char* const kUpToDate = QT_TRANSLATE_NOOP("WindowState", "Already the latest version");
const char* const kRunning = QT_TRANSLATE_NOOP("WindowState", "DO NOT remove power of USB cable");
const char* const kFailSecondPart = kGeneralFailureText;
const char* const kSilent = QT_TRANSLATE_NOOP(
    "WindowState",
    "The controller does not answer. Unplug it, plug it in again and wait a few seconds. "
    "If this happens again, contact support.");
const char* const kChecking =
    QT_TRANSLATE_NOOP("WindowState", "Checking for firmware releases\u2026");
const char* const kUnsupported = QT_TRANSLATE_NOOP(
    "WindowState",
    "This controller reports model \"%1\". This tool updates only the Tarvo Remote (model T), "
    "so no update is offered. Nothing was changed on the controller.");
const char* const kConfirm = QT_TRANSLATE_NOOP(
    "WindowState", "Do you want to update \nFrom: Firmware V%1\nTo: Firmware V%2");
const char* const kDowngrade = QT_TRANSLATE_NOOP(
    "WindowState",
    "This installs an older firmware.\nFrom: Firmware V%1\nTo: Firmware V%2 (older)");
const char* const kVerified =
    QT_TRANSLATE_NOOP("WindowState", "Firmware %1 installed and verified.");
const char* const kConnect = QT_TRANSLATE_NOOP(
    "WindowState",
    "Connect the Tarvo Remote to this computer with its USB cable. If it is connected and "
    "does not appear here, the tool may not be allowed to use it: run "
    "\"tarvo-remote-update doctor\" in a terminal.");
const char* const kSeveral = QT_TRANSLATE_NOOP(
    "WindowState", "%1 controllers are attached. Unplug all but one, or open the station view.");
const char* const kOfflineConfirm = QT_TRANSLATE_NOOP(
    "WindowState",
    "No internet connection, newest version as of: Version %1 [%2] will be installed");

// The source text in the user's language.
std::string text(const WindowState& s, const char* source) {
    return s.translate ? s.translate(source) : std::string(source);
}

// `pattern` with %1, %2 replaced by the values, each once, in one pass (a value
// that holds "%2" itself stays as it is).
std::string filled(const std::string& pattern, const std::string& first,
                   const std::string& second = {}) {
    std::string out;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() &&
            (pattern[i + 1] == '1' || pattern[i + 1] == '2')) {
            out += pattern[i + 1] == '1' ? first : second;
            ++i;
        } else {
            out.push_back(pattern[i]);
        }
    }
    return out;
}

std::string unsupported(const WindowState& s) {
    return filled(text(s, kUnsupported), s.otherModel);
}

// The prepared update asks for confirmation; without a network the built-in
// release says it is the newest known as of its date.
std::string confirmation(const WindowState& s) {
    const std::string target = s.selected ? s.selected->ver : "";
    // An older release than the controller runs is said to be one, whatever
    // way it was chosen.
    if (s.selected && isNewer(s.fw, target)) {
        return filled(text(s, kDowngrade), s.fw, target);
    }
    if (s.hasNetwork || s.mode != UpMode::bIn) {
        return filled(text(s, kConfirm), s.fw, target);
    }
    return filled(text(s, kOfflineConfirm), s.selected ? s.selected->ver : "9.9.9",
                  s.selected ? s.selected->date : "1970-01-01");
}

// The controller, the offer, the volume being written and the prepared update.
void showController(const WindowState& s, WindowView& v) {
    const std::string firmwareLine = "V " + s.fw;
    if (s.attached) {
        v.product = kProductName;
        v.firmware = firmwareLine;
        v.message = text(s, kUpdateOffer);
        if (!isNewer(s.newest, s.fw) && s.mode == UpMode::none) {
            v.leftEnabled = false;
            v.message = text(s, kUpToDate);
        }
    } else if (s.sta == UpSta::none) {
        v.leftEnabled = false;
        v.rightEnabled = false;
    }
    // The controller left the bus for its bootloader after the final step, or
    // its volume holds a release about to be written: it is still the one
    // being updated.
    if (s.mountWithFiles || s.finalStep) {
        v.product = kProductName;
        v.firmware = firmwareLine;
    }
    if (s.mode != UpMode::none) {
        v.modeChosen = true;
        v.message = confirmation(s);
    }
}

void showStatus(const WindowState& s, WindowView& v) {
    switch (s.sta) {
        case UpSta::updating:
            v.message = !s.volumeNote.empty()   ? s.volumeNote
                        : !s.resumeNote.empty() ? s.resumeNote
                                                : text(s, kRunning);
            v.leftEnabled = false;
            v.rightEnabled = false;
            v.closeShown = false;
            break;
        case UpSta::suc:
            v.message.clear();
            v.product.clear();
            v.firmware.clear();
            break;
        case UpSta::failed:
            // Once the final step was sent the window keeps its content: the
            // update-in-progress alert speaks for it.
            if (!s.finalStep) {
                v.title.clear();
                v.firmware.clear();
                v.product.clear();
                v.failure = true;
                v.message = s.failureNote.empty() ? text(s, kFailSecondPart) : s.failureNote;
                v.okShown = true;
                v.detailsShown = true;
                v.focus = WindowView::Focus::ok;
                v.announced = true;
                // OK is the one way on: the image buttons keep their offer
                // faces and wait, so no second OK stands beside it.
                v.modeChosen = false;
                v.leftEnabled = false;
                v.rightEnabled = false;
            }
            break;
        case UpSta::none:
            break;
    }
}

// States the plain window has no words for; only while no update runs.
void showNotices(const WindowState& s, WindowView& v) {
    if (s.sta != UpSta::none) {
        return;
    }
    if (s.controllersAttached > 1) {
        // Which one would be meant? Nothing is offered until one is left.
        v.product.clear();
        v.firmware.clear();
        v.modeChosen = false;
        v.leftEnabled = false;
        v.rightEnabled = false;
        v.message = filled(text(s, kSeveral), std::to_string(s.controllersAttached));
        return;
    }
    if (!s.attached) {
        if (!s.monitorError.empty()) {
            v.message = s.monitorError;
        } else if (!s.mountWithFiles && !s.finalStep) {
            v.message = text(s, kConnect);
        }
        return;
    }
    if (!s.identified) {
        // Nothing can start before the controller has said what it is.
        v.leftEnabled = false;
        v.rightEnabled = false;
        if (!s.otherModel.empty()) {
            v.firmware.clear();
            v.message = unsupported(s);
        } else if (s.identifyTimedOut) {
            v.firmware.clear();
            v.message = text(s, kSilent);
        }
        return;
    }
    if (s.mode == UpMode::none && !s.verifiedVersion.empty()) {
        v.message = filled(text(s, kVerified), s.verifiedVersion);
        v.announced = true;
    }
    if (s.mode == UpMode::none && s.checkingReleases) {
        v.message = text(s, kChecking);
        v.leftEnabled = false;
        v.rightEnabled = false;
    }
    if (s.downloading) {
        // Only Cancel acts while the files are on their way.
        v.message = s.downloadNote;
        v.modeChosen = false;
        v.leftEnabled = false;
        v.rightEnabled = false;
        v.progressShown = true;
        v.cancelShown = true;
    } else if (s.mode == UpMode::none && !s.downloadNote.empty()) {
        v.message = s.downloadNote;
        v.detailsShown = true;
    }
}

}  // namespace

WindowView windowFor(const WindowState& state) {
    WindowView view;
    view.title = state.title;
    view.progressShown = state.sta == UpSta::updating;
    showController(state, view);
    showStatus(state, view);
    showNotices(state, view);
    // A drive that carries the bootloader's label but was left alone is told
    // while no update runs and the window has no question of its own to show
    // (during an update, its warning not to unplug comes first).
    if (!state.foreignDriveNote.empty() && state.sta == UpSta::none && !view.modeChosen &&
        !state.downloading) {
        view.message = state.foreignDriveNote;
    }
    // The primary action takes the focus: OK on a failure, else the left face
    // (the confirmation's OK, or the offer) while it can act.
    if (view.focus == WindowView::Focus::unchanged && view.leftEnabled && !view.okShown) {
        view.focus = WindowView::Focus::left;
    }
    return view;
}

}  // namespace tarvo
