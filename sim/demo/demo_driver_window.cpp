// What the demo's driver reads off the window and the simulator, as a person
// looking at the screen would: whether the controller is shown, the offer,
// the confirmation, the controller back after an update, the completion box.
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include "sim/demo/demo_driver.h"
#include "sim/demo/window_texts.h"
#include "sim/firmware_format.h"
#include "sim/simulated_platform.h"
#include "tcontroller/ui/dialogs/alert_view_controller.h"
#include "tcontroller/ui/image_button.h"
#include "tcontroller/ui/view_controller.h"

namespace tarvo::demo {
namespace {

using UpSta = Util::UpSta;
using UpMode = Util::UpMode;
using ReadSta = Util::ReadSta;

}  // namespace

bool DemoDriver::Steady::holds(bool condition, int ticks) {
    ticks_ = condition ? ticks_ + 1 : 0;
    return ticks_ >= ticks;
}

bool DemoDriver::networkSettled() const {
    const sim::SimReachability* reachability = sim_.reachability();
    return reachability != nullptr && reachability->stopped() &&
           (window_.hasNetwork.load() || networkDown_.load() || historyFailed_.load());
}

bool DemoDriver::identified() const {
    return window_.readSta.load() == ReadSta::DONE && window_.hidDeviceInfo.get() != nullptr;
}

// The controller is shown and nothing is going on; the version history has
// arrived (or failed, or there is no network), so the offer is final.
bool DemoDriver::idleWindow() const {
    return identified() && networkSettled() && window_.updateSta.load() == UpSta::none &&
           window_.updateMode.load() == UpMode::none &&
           window_.FWLabel->text().toStdString() == "V " + window_.hid_FW.get() &&
           !window_.msgLabel->text().isEmpty();
}

// The controller is shown and UPDATE TO NEWEST can be pressed, whether or not
// the version history has arrived.
bool DemoDriver::offerShown() const {
    return identified() && window_.updateSta.load() == UpSta::none &&
           window_.updateMode.load() == UpMode::none && window_.leftBut->isEnabled() &&
           window_.FWLabel->text().toStdString() == "V " + window_.hid_FW.get() &&
           !window_.msgLabel->text().isEmpty();
}

bool DemoDriver::confirmationShown() const {
    const QString message = window_.msgLabel->text();
    return window_.updateMode.load() != UpMode::none && window_.updateSta.load() == UpSta::none &&
           window_.FWData.with([](const auto& d) { return d.has_value(); }) &&
           window_.imageData.with([](const auto& d) { return d != nullptr; }) &&
           window_.leftBut->isEnabled() && isConfirmation(message);
}

// After "Update complete!": the controller is back on HID and the window shows
// the firmware it reports.
bool DemoDriver::backOnHid() const {
    return completionSeen_ && identified() && window_.updateSta.load() == UpSta::none &&
           window_.updateMode.load() == UpMode::none && sim_.controller().isOnHid() &&
           window_.FWLabel->text().toStdString() == "V " + window_.hid_FW.get();
}

bool DemoDriver::backWithTarget() const {
    return backOnHid() && sim_.controller().config().versionChars == sim::versionCharsFor(target_);
}

// During an update: the window is back to its offer, with the controller shown,
// no update going on and no alert to answer (a re-attached controller resets
// the window, whatever became of the update).
bool DemoDriver::backToOffer() const {
    return alertStep_ != AlertStep::replugging && identified() &&
           window_.updateSta.load() == UpSta::none && window_.updateMode.load() == UpMode::none &&
           (window_.alert == nullptr || !window_.alert->shown);
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
