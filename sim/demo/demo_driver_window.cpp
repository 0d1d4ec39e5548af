// What the demo's driver reads off the window, the tool's state and the
// simulator, as a person looking at the screen would: whether the controller
// is shown, the offer, the confirmation, the controller back after an update,
// the alert, the completion box.
#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>

#include "sim/demo/demo_driver.h"
#include "sim/demo/window_texts.h"
#include "sim/firmware_format.h"
#include "sim/simulated_platform.h"
#include "tcontroller/ui/dialogs/alert_view_controller.h"
#include "tcontroller/ui/view_controller.h"

namespace tarvo::demo {
namespace {

using UpSta = Util::UpSta;
using UpMode = Util::UpMode;

}  // namespace

bool DemoDriver::Steady::holds(bool condition, int ticks) {
    ticks_ = condition ? ticks_ + 1 : 0;
    return ticks_ >= ticks;
}

UpdateSnapshot DemoDriver::state() const {
    return window_.engine().snapshot();
}

bool DemoDriver::alertShown() const {
    return alert_->shown;
}

bool DemoDriver::networkSettled() const {
    const sim::SimReachability* reachability = sim_.reachability();
    return reachability != nullptr && reachability->stopped() &&
           (state().hasNetwork || networkDown_.load() || historyFailed_.load());
}

// The controller on the bus answered as the supported model with its firmware.
bool DemoDriver::identified() const {
    return state().identified;
}

// The controller is shown and nothing is going on; the version history has
// arrived (or failed, or there is no network), so the offer is final.
bool DemoDriver::idleWindow() const {
    const UpdateSnapshot now = state();
    return now.identified && networkSettled() && now.sta == UpSta::none &&
           now.mode == UpMode::none && fwLabel_->text().toStdString() == "V " + now.fw &&
           !msgLabel_->text().isEmpty();
}

// The controller is shown and UPDATE TO NEWEST can be pressed, whether or not
// the version history has arrived.
bool DemoDriver::offerShown() const {
    const UpdateSnapshot now = state();
    return now.identified && now.sta == UpSta::none && now.mode == UpMode::none &&
           leftBut_->isEnabled() && fwLabel_->text().toStdString() == "V " + now.fw &&
           !msgLabel_->text().isEmpty();
}

// The question before an update, with both files of the release held.
bool DemoDriver::confirmationShown() const {
    const UpdateSnapshot now = state();
    return now.mode != UpMode::none && now.sta == UpSta::none && now.filesHeld &&
           leftBut_->isEnabled() && isConfirmation(msgLabel_->text());
}

// After "Update complete!": the controller is back on HID and the window shows
// the firmware it reports.
bool DemoDriver::backOnHid() const {
    const UpdateSnapshot now = state();
    return completionSeen_ && now.identified && now.sta == UpSta::none &&
           now.mode == UpMode::none && sim_.controller().isOnHid() &&
           fwLabel_->text().toStdString() == "V " + now.fw;
}

bool DemoDriver::backWithTarget() const {
    return backOnHid() && sim_.controller().config().versionChars == sim::versionCharsFor(target_);
}

// During an update: the window is back to its offer, with the controller shown,
// no update going on and no alert to answer (a re-attached controller resets
// the window, whatever became of the update).
bool DemoDriver::backToOffer() const {
    const UpdateSnapshot now = state();
    return alertStep_ != AlertStep::replugging && now.identified && now.sta == UpSta::none &&
           now.mode == UpMode::none && !alertShown();
}

QMessageBox* DemoDriver::completionDialog() const {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box != nullptr && box->isVisible() &&
        box->informativeText() ==
            QCoreApplication::translate("tarvo::ViewController", "Update complete!")) {
        return box;
    }
    return nullptr;
}

}  // namespace tarvo::demo
