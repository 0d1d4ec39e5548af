// The update flow behind the window's buttons: preparing a release, starting
// the transfer, the final step and its watchdog, and the result of the firmware
// write.
#include <QCoreApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>

#include "tcontroller/base/log.h"
#include "tcontroller/catalogue/firmware_names.h"
#include "tcontroller/catalogue/version.h"
#include "tcontroller/device/commands.h"
#include "tcontroller/dialogs/alert_view_controller.h"
#include "tcontroller/dialogs/sel_view_controller.h"
#include "tcontroller/image_button.h"
#include "tcontroller/view_controller.h"

namespace tarvo {

void ViewController::takeRelease(UpMode source, const Histoty& record, std::optional<Bytes> image,
                                 std::optional<Bytes> firmware) {
    {
        std::lock_guard<std::mutex> hold(releaseLock_);
        FWData.set(std::move(firmware));
        imageData.set(image ? std::make_shared<const Bytes>(std::move(*image)) : nullptr);
        releaseVersion_ = record.ver;
    }
    updateMode.store(source);
    selectedFW.set(record);
}

void ViewController::takeBuiltInRelease() {
    takeRelease(UpMode::bIn, Histoty{FW_VER, FW_DATE}, getImageData(UpMode::bIn, resources()),
                getFWData(UpMode::bIn, resources()));
}

bool ViewController::controllerIdentified() const {
    const HIDDevicePtr device = identifiedDevice_.get();
    return device && device == hidDeviceInfo.get() && readSta.load() == ReadSta::DONE;
}

bool ViewController::updateRunning() const {
    return updateSta.load() == UpSta::updating || finalStep.load();
}

void ViewController::leftClick() {
    if (updateSta.load() == UpSta::updating) {
        return;
    }
    const std::string fw = hid_FW.get();
    const UpMode mode = updateMode.load();
    if (mode == UpMode::bIn && !isNewer(FW_VER, fw)) {
        return;
    }
    if (const auto selected = selectedFW.get(); selected && !isNewer(selected->ver, fw)) {
        return;
    }
    if (mode != UpMode::none) {
        startPreparedUpdate();
        return;
    }
    if (awaitingHistory_.load()) {
        // The release list is on its way: the press waits for it, so it is
        // not taken for the built-in release by mistake.
        pressedWhileChecking_.store(true);
        refreshUI();
        return;
    }
    const std::vector<Histoty> versions = onlineVers.get();
    // An empty history (a reply with no items) has no newest version: the
    // built-in release is offered instead.
    if (hasNetwork.load() && !versions.empty() && isNewer(versions.front().ver, FW_VER)) {
        updateMode.store(UpMode::online);
        selectedFW.set(versions.front());
        downloads_->async([this, release = versions.front()] { downloadSelectedVersion(release); });
        return;
    }
    takeBuiltInRelease();
    refreshUI();
}

void ViewController::startPreparedUpdate() {
    // Only a controller that identified itself as the supported model is ever
    // erased; the window says why nothing happens for any other.
    if (!controllerIdentified()) {
        return;
    }
    const bool ready = FWData.with([](const auto& d) { return d.has_value(); }) &&
                       imageData.with([](const auto& d) { return d != nullptr; });
    if (!ready) {
        updateSta.store(UpSta::failed);
        refreshUI();
        return;
    }
    failureNote_.set({});
    updateSta.store(UpSta::updating);
    refreshUI();
    queue1->async([this] { runTransfer(); });
}

void ViewController::runTransfer() {
    // The image and its firmware are read together when the transfer starts;
    // a controller that re-attached meanwhile has emptied them, and the
    // attempt fails.
    std::shared_ptr<const Bytes> image;
    std::optional<SentRelease> release;
    {
        std::lock_guard<std::mutex> hold(releaseLock_);
        image = imageData.get();
        if (std::optional<Bytes> firmware = FWData.get()) {
            release = SentRelease{releaseVersion_, std::move(*firmware)};
        }
    }
    if (!image || !release) {
        updateSta.store(UpSta::failed);
        refreshUI();
        return;
    }
    // From the erase on, the controller holds this release's image, so this
    // release's firmware is the one its bootloader must receive.
    sentRelease_.set(std::move(release));
    beginUpdateSession();
    sendImage(*image);
}

void ViewController::downloadSelectedVersion(const Histoty& release) {
    QPointer<ViewController> self(this);
    postToMain([self] {
        if (self) {
            self->leftBut->setEnabled(false);
            self->rightBut->setEnabled(false);
        }
    });
    const std::string imageUrl = imageAddress(platform_.serverBase, release.ver);
    const std::string firmwareUrl = firmwareAddress(platform_.serverBase, release.ver);
    Result<Bytes> firmware = platform_.reads->readBytes(firmwareUrl);
    Result<Bytes> image;
    if (firmware.ok()) {
        image = platform_.reads->readBytes(imageUrl);
    }
    // A press of the right button cancels the prepared update while the files
    // are on their way: then they are not taken.
    if (firmware.ok() && image.ok() && updateMode.load() == UpMode::online) {
        takeRelease(UpMode::online, release, std::move(image.value), std::move(firmware.value));
    } else if (!firmware.ok() || !image.ok()) {
        logLine("download file failed.");
        updateMode.store(UpMode::none);
        selectedFW.set(std::nullopt);
    }
    postToMain([self] {
        if (self) {
            self->closeBut->setHidden(false);
            self->leftBut->setEnabled(true);
            self->rightBut->setEnabled(true);
        }
    });
    refreshUI();
}

void ViewController::presentChooser() {
    auto* chooser = new SelViewController(this);
    chooser->delegate = this;
    chooser->dataArr = onlineVers.get();
    openChooser = chooser;
    chooser->present();
}

void ViewController::rightClick() {
    if (updateSta.load() == UpSta::updating) {
        return;
    }
    if (updateMode.load() != UpMode::none) {
        updateMode.store(UpMode::none);
        refreshUI();
        return;
    }
    QPointer<ViewController> self(this);
    if (!hasNetwork.load()) {
        postToMain([self] {
            if (self) {
                self->msgLabel->setTextFormat(Qt::PlainText);
                self->msgLabel->setText(tr("Internet connection required to update to previous"));
                self->FailedOKBut->setHidden(false);
            }
        });
        return;
    }
    postToMain([self] {
        if (self) {
            self->presentChooser();
        }
    });
    refreshUI();
}

void ViewController::click() {
    if (!hasNetwork.load() && updateSta.load() == UpSta::none) {
        // Offline, the chooser offers the local-file choice.
        QPointer<ViewController> self(this);
        postToMain([self] {
            if (self) {
                self->msgLabel->setTextFormat(Qt::PlainText);
                // The window's own offer text, in the same translation.
                self->msgLabel->setText(QCoreApplication::translate(
                    "WindowState", "*Update Recommanded Click \"UPDATE TO NEWEST\""));
                self->FailedOKBut->setHidden(true);
                self->presentChooser();
            }
        });
        return;
    }
    if (imageUpdated.load() && hidDeviceInfo.get()) {
        sendFinalStep();
        return;
    }
    updateSta.store(UpSta::none);
    updateMode.store(UpMode::none);
    failureNote_.set({});
    setProgressLater(0);
    refreshUI();
}

void ViewController::imageUpdateDone(int code, const std::string& message) {
    logLine("image update done " + std::to_string(code) + " [" + message + "]!!");
    if (code != 0) {
        updateSta.store(UpSta::failed);
        refreshUI();
        return;
    }
    imageUpdated.store(true);
    if (sendFinalStep()) {
        startWatchdog();
    }
}

bool ViewController::sendFinalStep() {
    // A final step sent again after a failure resumes the update.
    beginUpdateSession();
    // The controller restarts as its bootloader volume once it takes this command.
    if (sendReport(Commands::finalStepCommand(), false)) {
        finalStep.store(true);
        return true;
    }
    updateSta.store(UpSta::failed);
    refreshUI();
    return false;
}

void ViewController::startWatchdog() {
    QPointer<ViewController> self(this);
    queue3->asyncAfter(10.0, [self] {
        postToMain([self] {
            if (self) {
                self->checkFinalStep();
            }
        });
    });
}

void ViewController::checkFinalStep() {
    if (finalStep.load()) {
        if (!alert->shown) {
            alert->present();
        }
    } else if (alert->shown) {
        alert->dismiss();
    }
}

void ViewController::alerted() {
    logLine("alerted");
    if (hidDeviceInfo.get() && imageUpdated.load()) {
        sendFinalStep();
        return;
    }
    if (usbMount.load() && updateSta.load() == UpSta::failed) {
        updateSta.store(UpSta::updating);
        beginUpdateSession();
        startFirmwareCopy();
    }
}

void ViewController::firmwareUpdateFinished(int code) {
    if (code != 0) {
        logLine("fw update failed");
        updateSta.store(UpSta::failed);
        refreshUI();
        return;
    }
    logLine("fw update successed");
    if (alert->shown) {
        logLine("close alert view");
        alert->dismiss();
    }
    updateSta.store(UpSta::suc);
    finalStep.store(false);
    imageUpdated.store(false);
    volumeNote_.set({});
    prodLabel->setText(QString());
    FWLabel->setText(QString());
    endUpdateSession(true, expectedVersion_.get());

    QMessageBox done(this);
    done.setIcon(QMessageBox::Warning);
    done.setText(QString());
    done.setInformativeText(tr("Update complete!"));
    done.setStandardButtons(QMessageBox::NoButton);
    done.addButton(tr("OK"), QMessageBox::AcceptRole);
    done.setTextFormat(Qt::PlainText);
    done.exec();

    // The controller may have come back on another version while the dialog
    // was open: that failure stays on screen.
    const bool verifyFailed = !failureNote_.get().empty();
    updateSta.store(verifyFailed ? UpSta::failed : UpSta::none);
    updateMode.store(UpMode::none);
    refreshUI();
}

void ViewController::beginUpdateSession() {
    if (sessionOpen_.exchange(true) || platform_.sleepInhibitor == nullptr) {
        return;
    }
    if (const Result<void> taken = platform_.sleepInhibitor->inhibit(); taken.ok()) {
        logLine("sleep inhibited until the update ends");
    } else if (!inhibitorComplained_.exchange(true)) {
        logLine("cannot inhibit sleep: " + escapeForLog(taken.error));
    }
}

void ViewController::endUpdateSession(bool success, const std::string& detail) {
    if (!sessionOpen_.exchange(false)) {
        return;
    }
    if (platform_.sleepInhibitor != nullptr && platform_.sleepInhibitor->held()) {
        platform_.sleepInhibitor->release();
        logLine("sleep allowed again");
    }
    // The window says the same; the desktop is told only when the user may
    // not be looking at it.
    if (platform_.notifier == nullptr || window()->isActiveWindow()) {
        return;
    }
    DesktopNotification note;
    note.failure = !success;
    if (success) {
        note.summary = tr("Update complete!").toStdString();
        note.body = detail.empty() ? std::string()
                                   : tr("The controller now runs firmware %1.")
                                         .arg(QString::fromStdString(detail))
                                         .toStdString();
    } else {
        note.summary = tr("Update failed").toStdString();
        note.body = detail;
    }
    platform_.notifier->notify(note);
}

void ViewController::volumeMountFailed(const QString& label, const QString& reason) {
    volumeNote_.set(tr("The controller's drive \"%1\" could not be mounted (%2). Open it in "
                       "your file manager, or mount it by hand as the README describes; the "
                       "update then goes on.")
                        .arg(label, reason)
                        .toStdString());
    refreshUI();
}

}  // namespace tarvo
