#include "sim/demo/demo_driver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <system_error>

#include "sim/demo/note.h"
#include "sim/demo/window_texts.h"
#include "sim/firmware_format.h"
#include "sim/simulated_platform.h"
#include "tcontroller/base/log.h"
#include "tcontroller/catalogue/builtin_files.h"
#include "tcontroller/device/identity.h"
#include "tcontroller/ui/dialogs/alert_view_controller.h"
#include "tcontroller/ui/dialogs/sel_view_controller.h"
#include "tcontroller/ui/view_controller.h"

namespace tarvo::demo {
namespace {

using UpSta = Util::UpSta;
using UpMode = Util::UpMode;

// The tool's log lines about the controller and the installed release.
constexpr char kUnsupportedModel[] = "unsupported controller model: ";
constexpr char kNoIdentification[] = "controller did not answer identification";
constexpr char kVerified[] = "update verified: ";
constexpr char kNotVerified[] = "update not verified: ";

// The child of `window` named `name` (or the one of its type, without a name).
template <class T>
T* part(const QWidget& window, const char* name = nullptr) {
    T* found =
        name != nullptr ? window.findChild<T*>(QString::fromLatin1(name)) : window.findChild<T*>();
    if (found == nullptr) {
        throw std::logic_error(std::string("the window has no ") +
                               (name != nullptr ? name : T::staticMetaObject.className()));
    }
    return found;
}

}  // namespace

DemoDriver::DemoDriver(sim::SimulatedPlatform& sim, ViewController& window,
                       const DemoOptions& options)
    : sim_(sim),
      window_(window),
      msgLabel_(part<QLabel>(window, "msgLabel")),
      fwLabel_(part<QLabel>(window, "FWLabel")),
      progress_(part<QProgressBar>(window, "progress")),
      leftBut_(part<QAbstractButton>(window, "leftBut")),
      rightBut_(part<QAbstractButton>(window, "rightBut")),
      failedOKBut_(part<QAbstractButton>(window, "FailedOKBut")),
      alert_(part<AlertViewController>(window)),
      options_(options),
      shots_(options.screenshotsDir) {
    setLogTap([this](const std::string& line) {
        if (line == "Network not reachable") {
            networkDown_ = true;
        } else if (line.rfind("get online ver from amz fail: ", 0) == 0) {
            historyFailed_ = true;
        } else if (line == "download file failed.") {
            downloadFailed_ = true;
        } else if (line == "erasing data...") {
            erasing_ = true;
        } else if (line == "begin image update") {
            imageBegun_ = true;
        } else if (line == "image update done 0 [done]!!") {
            imageSent_ = true;
        } else if (line.rfind(kUnsupportedModel, 0) == 0 || line == kNoIdentification) {
            std::lock_guard<std::mutex> hold(tapMutex_);
            refusalLine_ = line;
        } else if (line.rfind(kVerified, 0) == 0 || line.rfind(kNotVerified, 0) == 0) {
            std::lock_guard<std::mutex> hold(tapMutex_);
            verdictLine_ = line;
            verified_ = line.rfind(kVerified, 0) == 0;
        }
    });
    if (options_.bootloader) {
        // Nothing to press: the tool writes its built-in firmware on its own.
        stage_ = Stage::updating;
        target_ = kBuiltinVersion;
    }
    poll_.setInterval(kPollMs);
    connect(&poll_, &QTimer::timeout, this, [this] { tick(); });
}

DemoDriver::~DemoDriver() {
    // After this returns no thread is inside the tap any more.
    setLogTap({});
}

void DemoDriver::start() {
    poll_.start();
    if (options_.autoRun) {
        QTimer::singleShot(options_.timeoutSeconds * 1000, this, [this] { timedOut(); });
    }
}

void DemoDriver::say(const std::string& line) const {
    note(line);
}

void DemoDriver::resume(const std::string& target) {
    // Whatever the new window shows first (the drive being written, or the
    // controller still on HID with its old firmware), the run goes on to the
    // same version.
    restarted_ = true;
    target_ = target;
    stage_ = Stage::waitIdle;
}

bool DemoDriver::restartNow() {
    if (options_.restartAfter.empty() || restarted_ || finished_) {
        return false;
    }
    const bool due = options_.restartAfter == "image" ? imageSent_.load() : state().finalStep;
    if (!due) {
        return false;
    }
    say("closing the tool after the " + options_.restartAfter + ", to start it again");
    restartRequested_ = true;
    finished_ = true;
    poll_.stop();
    QCoreApplication::exit(0);
    return true;
}

void DemoDriver::tick() {
    if (finished_ || restartNow()) {
        return;
    }
    observe();
    if (!finished_) {
        drive();
    }
}

// Pictures of what appears on its own, whoever presses the buttons.
void DemoDriver::observe() {
    const UpSta sta = state().sta;
    if (alertShown()) {
        shots_.takeOver("alert", &window_, alert_);
    }
    if (sta == UpSta::updating && !progress_->isHidden()) {
        const int value = progress_->value();
        if (erasing_.load() && !imageBegun_.load() && value >= 5 && value < 35) {
            shots_.take("erasing", &window_);
        } else if (imageBegun_.load() && value >= 50 && value < 95) {
            shots_.take("sending-image", &window_);
        }
    }
    if (sta == UpSta::failed && !failedOKBut_->isHidden()) {
        shots_.take("failed", &window_);
    }
    if (QMessageBox* box = completionDialog()) {
        shots_.takeOver("update-complete", &window_, box);
        if (!completionSeen_) {
            completionSeen_ = true;
            stage_ = Stage::backOnHid;
            say("the tool says \"Update complete!\"");
        }
        if (options_.autoRun) {
            say("pressing OK");
            box->buttons().front()->click();
        }
    }
}

// The tool refused the controller (another model, or no answer): once its
// message has landed, that is the picture of the idle window.
bool DemoDriver::actOnRefusal() {
    std::string line;
    {
        std::lock_guard<std::mutex> hold(tapMutex_);
        line = refusalLine_;
    }
    // The model answer can come before this driver's log tap is in place; the
    // tool's state tells the same.
    if (const UpdateSnapshot now = state();
        line.empty() && now.attached && !now.model.empty() && now.model != identity::kModelCode) {
        line = kUnsupportedModel + now.model;
    }
    if (line.empty()) {
        return false;
    }
    if (!refusal_.holds(true)) {
        return true;
    }
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box != nullptr && box->isVisible()) {
        shots_.takeOver("idle", &window_, box);
        say("the tool refused the controller (" + line + "); it says: " +
            box->text().toStdString() + " " + box->informativeText().toStdString());
    } else {
        shots_.take("idle", &window_);
        say("the tool refused the controller (" + line +
            "); window says: " + msgLabel_->text().toStdString());
    }
    stage_ = Stage::done;
    if (options_.autoRun) {
        finish(kExitNothing, "nothing to install: the controller was refused");
    }
    return true;
}

// The window shows a failure: acknowledge it with its OK, and the run failed.
bool DemoDriver::actOnFailure() {
    const bool shown = state().sta == UpSta::failed && !failedOKBut_->isHidden();
    if (!failure_.holds(shown)) {
        return false;
    }
    shots_.take("failed", &window_);
    say("the window shows a failure; pressing its OK");
    failedOKBut_->click();
    finish(kExitFailed, "the update failed");
    return true;
}

// The alert asks the user to keep the tool running and replug the cable: the
// controller is unplugged and plugged in again, and once the window shows it
// identified, the alert's button is pressed. An alert that comes back after
// that means the replug did not help: the run gives up.
bool DemoDriver::answerAlert() {
    const bool shown = alertShown();
    switch (alertStep_) {
        case AlertStep::none:
            if (!shown) {
                return false;
            }
            if (alertsAnswered_ > 0) {
                say("the alert is back after the controller was replugged; giving up");
                finish(kExitFailed, "the update did not complete after a replug");
                return true;
            }
            ++alertsAnswered_;
            say("the alert asks to replug the controller: unplugging it and plugging it in again");
            sim_.controller().unplug();
            sim_.controller().plug();
            replugged_.reset();
            alertStep_ = AlertStep::replugging;
            return true;
        case AlertStep::replugging:
            if (!shown) {
                say("the alert went away on its own");
                alertStep_ = AlertStep::pressed;
                return true;
            }
            if (!replugged_.holds(identified() && sim_.controller().isOnHid())) {
                return true;
            }
            say("controller back on HID with firmware " + state().fw +
                "; pressing the alert's button");
            alert_->click();
            alertStep_ = AlertStep::pressed;
            return true;
        case AlertStep::pressed:
            if (!shown) {
                alertStep_ = AlertStep::none;
            }
            return false;
    }
    return false;
}

// After "Update complete!": the tool's verification line decides, once the
// controller is back on HID. A tool that logs none is judged by the firmware
// the controller reports.
void DemoDriver::judgeResult() {
    std::string verdict;
    bool verified = false;
    {
        std::lock_guard<std::mutex> hold(tapMutex_);
        verdict = verdictLine_;
        verified = verified_;
    }
    if (!verdict.empty() && !verified) {
        // The window should show the failure (actOnFailure acknowledges it);
        // without one, the line decides all the same.
        if (++ticksWithoutVerdict_ >= kVerdictTicks) {
            say("the tool says: " + verdict);
            finish(kExitFailed, "the update was not verified");
        }
        return;
    }
    if (!back_.holds(backOnHid())) {
        return;
    }
    const std::string reported = sim_.controller().config().versionChars;
    if (!verdict.empty()) {
        const std::string version = verdict.substr(std::strlen(kVerified));
        shots_.take("done", &window_);
        say("controller back on HID with firmware " + state().fw + "; the tool says: " + verdict);
        if (version != target_) {
            finish(kExitFailed,
                   "the tool verified " + version + ", but " + target_ + " was to be installed");
        } else if (reported != sim::versionCharsFor(version)) {
            finish(kExitFailed,
                   "the tool verified " + version + ", but the controller reports " + reported);
        } else {
            finish(kExitUpdated, "installed and verified " + version);
        }
        return;
    }
    if (++ticksWithoutVerdict_ < kVerdictTicks) {
        return;
    }
    say("the tool logged no verification; judging by the firmware the controller reports");
    if (reported != sim::versionCharsFor(target_)) {
        finish(kExitFailed, "the controller reports " + reported + ", expected " + target_);
        return;
    }
    shots_.take("done", &window_);
    say("controller back on HID with firmware " + state().fw);
    finish(kExitUpdated, "updated to " + target_);
}

// The idle window: a picture, then the first press (or the verdict that
// there is nothing to install).
void DemoDriver::driveIdle(bool autoRun) {
    // With a delayed history, UPDATE TO NEWEST is pressed as soon as it
    // can be, while the history query is still on its way.
    const bool early = autoRun && options_.historyDelaySeconds > 0;
    if (!idle_.holds(idleWindow() || (early && offerShown()))) {
        return;
    }
    shots_.take("idle", &window_);
    const UpdateSnapshot shown = state();
    say("controller " + shown.model + " on firmware " + shown.fw +
        "; window says: " + msgLabel_->text().toStdString());
    stage_ = Stage::confirm;
    if (!autoRun) {
        return;
    }
    if (!options_.choose.empty()) {
        say("pressing UPDATE TO PREVIOUS");
        stage_ = Stage::choose;
        rightBut_->click();
        return;
    }
    if (!leftBut_->isEnabled()) {
        say("nothing offered: UPDATE TO NEWEST is disabled");
        finish(kExitNothing, "nothing to install");
        return;
    }
    say(networkSettled() ? "pressing UPDATE TO NEWEST"
                         : "pressing UPDATE TO NEWEST before the version history arrived");
    leftBut_->click();
}

// The confirmation: a picture, then the second press.
void DemoDriver::driveConfirm(bool autoRun) {
    if (autoRun && downloadFailed_.load()) {
        // Once the window says why, that is the picture of the failed download.
        const QString failed = QCoreApplication::translate("tarvo::UpdateEngine",
                                                           "Could not download firmware %1: %2.");
        if (!downloadFailure_.holds(
                msgLabel_->text().startsWith(failed.left(failed.indexOf("%1"))))) {
            return;
        }
        shots_.take("download-failed", &window_);
        say("the window says: " + msgLabel_->text().toStdString());
        finish(kExitFailed, "the download failed");
        return;
    }
    if (!confirm_.holds(confirmationShown())) {
        return;
    }
    confirm_.reset();
    shots_.take("confirm", &window_);
    target_ = targetOf(msgLabel_->text(), kBuiltinVersion);
    stage_ = Stage::updating;
    if (autoRun) {
        say("pressing OK to install " + target_);
        leftBut_->click();
    }
}

void DemoDriver::drive() {
    const bool autoRun = options_.autoRun;
    if (stage_ == Stage::waitIdle && actOnRefusal()) {
        return;
    }
    if (autoRun && stage_ != Stage::done) {
        if (actOnFailure()) {
            return;
        }
        if ((stage_ == Stage::updating || stage_ == Stage::backOnHid) && answerAlert()) {
            return;
        }
    }
    switch (stage_) {
        case Stage::waitIdle:
            driveIdle(autoRun);
            return;
        case Stage::choose:
            driveChooser();
            return;
        case Stage::confirm:
            driveConfirm(autoRun);
            return;
        case Stage::updating: {
            if (autoRun && stalled_.holds(backToOffer(), kVerdictTicks)) {
                say("the window is back to its offer; the update went no further");
                finish(kExitFailed, "the update stopped");
                return;
            }
            if (const UpdateSnapshot now = state(); !autoRun && !options_.bootloader &&
                                                    now.mode == UpMode::none &&
                                                    now.sta == UpSta::none) {
                stage_ = Stage::confirm;  // cancelled: wait for the next confirmation
            }
            return;
        }
        case Stage::backOnHid: {
            if (autoRun) {
                judgeResult();
                return;
            }
            if (!back_.holds(backWithTarget())) {
                return;
            }
            shots_.take("done", &window_);
            say("controller back on HID with firmware " + state().fw);
            stage_ = Stage::done;
            return;
        }
        case Stage::done:
            return;
    }
}

void DemoDriver::finish(int code, const std::string& why) {
    finished_ = true;
    exitCode_ = code;
    poll_.stop();
    say("finished (" + why + "), exit status " + std::to_string(code));
    QCoreApplication::exit(code);
}

void DemoDriver::timedOut() {
    if (finished_) {
        return;
    }
    say("timed out after " + std::to_string(options_.timeoutSeconds) + " s, exit status " +
        std::to_string(kExitTimeout));
    // Work may be blocked in a long wait or a stalled read: leave at once, but
    // take the simulator's private folder along.
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::path(sim_.bootloaderPath()).parent_path(), ec);
    flushLog(1.0);
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(kExitTimeout);
}

}  // namespace tarvo::demo
