// The update flow behind the engine's commands: preparing a release (the
// downloads are in engine_network.cpp), starting the transfer, the final step
// and its watchdog, and the result of the firmware write.
#include <QFileInfo>
#include <QPointer>
#include <QUrl>

#include "tcontroller/base/log.h"
#include "tcontroller/catalogue/firmware_names.h"
#include "tcontroller/catalogue/version.h"
#include "tcontroller/device/controller_link.h"
#include "tcontroller/update/update_engine.h"

namespace tarvo {

std::string localFileAddress(const std::string& path) {
    const QString absolute = QFileInfo(QString::fromStdString(path)).absoluteFilePath();
    return QUrl::fromLocalFile(absolute).toString(QUrl::FullyEncoded).toStdString();
}

void UpdateEngine::takeRelease(UpMode source, const Histoty& record, std::optional<Bytes> image,
                               std::optional<Bytes> firmware) {
    {
        std::lock_guard<std::mutex> hold(releaseLock_);
        FWData.set(std::move(firmware));
        imageData.set(image ? std::make_shared<const Bytes>(std::move(*image)) : nullptr);
        releaseVersion_ = record.ver;
    }
    choose(source, record);
}

void UpdateEngine::choose(UpMode mode, const Histoty& release) {
    chosen_.set(release);
    updateMode.store(mode);
    selectedFW.set(release);
}

void UpdateEngine::takeBuiltInRelease() {
    // The image is read before the firmware, and its log lines come first: the
    // order of a function's arguments is unspecified, so each read is its own
    // statement.
    std::optional<Bytes> image = getImageData(UpMode::bIn, resources());
    std::optional<Bytes> firmware = getFWData(UpMode::bIn, resources());
    takeRelease(UpMode::bIn, Histoty{FW_VER, FW_DATE}, std::move(image), std::move(firmware));
}

bool UpdateEngine::controllerIdentified() const {
    const HIDDevicePtr device = identifiedDevice_.get();
    return device && device == hidDeviceInfo.get() && readSta.load() == ReadSta::DONE;
}

bool UpdateEngine::updateRunning() const {
    return updateSta.load() == UpSta::updating || finalStep.load();
}

void UpdateEngine::updateToNewest() {
    press();
}

void UpdateEngine::updateToBuiltIn() {
    if (updateSta.load() == UpSta::updating || downloading_.load() ||
        !isNewer(FW_VER, hid_FW.get())) {
        return;
    }
    downloadNote_.set({});
    takeBuiltInRelease();
    publish();
}

void UpdateEngine::confirm() {
    if (updateMode.load() != UpMode::none) {
        press();
    }
}

void UpdateEngine::press() {
    if (updateSta.load() == UpSta::updating || downloading_.load()) {
        return;
    }
    downloadNote_.set({});
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
        publish();
        return;
    }
    const std::vector<Histoty> versions = onlineVers.get();
    // An empty history (a reply with no items) has no newest version: the
    // built-in release is offered instead.
    if (hasNetwork.load() && !versions.empty() && isNewer(versions.front().ver, FW_VER)) {
        const Histoty& release = versions.front();
        choose(UpMode::online, release);
        attemptedRelease_.set(release.ver);
        downloadNote_.set(tr("Downloading firmware %1\u2026")
                              .arg(QString::fromStdString(release.ver))
                              .toStdString());
        const unsigned id = ++downloadSerial_;
        downloading_.store(true);
        setProgressLater(0);
        setProgressLineLater(downloadProgress(0, 0));
        publish();
        downloads_->async([this, release, id] { runDownload(release, id); });
        return;
    }
    takeBuiltInRelease();
    publish();
}

void UpdateEngine::startPreparedUpdate() {
    // Only a controller that identified itself as the supported model is ever
    // erased; the front end says why nothing happens for any other.
    if (!controllerIdentified()) {
        return;
    }
    if (attachedCount_.load() > 1) {
        logLine("not started: several controllers attached");
        return;
    }
    // A new attempt: what failed or was verified in an earlier one is not this one's.
    failureNote_.set({});
    verifiedVersion_.set({});
    if (const HIDDevicePtr device = hidDeviceInfo.get()) {
        updatingPort_.set(device->port());
    }
    stage_.store(UpdateStage::none);
    const bool ready = FWData.with([](const auto& d) { return d.has_value(); }) &&
                       imageData.with([](const auto& d) { return d != nullptr; });
    if (!ready) {
        updateSta.store(UpSta::failed);
        publish();
        return;
    }
    setProgressLineLater({});
    updateSta.store(UpSta::updating);
    publish();
    queue1->async([this] { runTransfer(); });
}

void UpdateEngine::runTransfer() {
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
        publish();
        return;
    }
    // From the erase on, the controller holds this release's image, so this
    // release's firmware is the one its bootloader must receive.
    attemptedRelease_.set(release->ver);
    sentRelease_.set(std::move(release));
    beginUpdateSession();
    sendImage(*image);
}

UpdateEngine::EarlierChoice UpdateEngine::chooseEarlier() {
    if (updateSta.load() == UpSta::updating || downloading_.load()) {
        return EarlierChoice::busy;
    }
    downloadNote_.set({});
    if (updateMode.load() != UpMode::none) {
        updateMode.store(UpMode::none);
        publish();
        return EarlierChoice::cancelled;
    }
    if (!hasNetwork.load()) {
        return EarlierChoice::needsNetwork;
    }
    publish();
    return EarlierChoice::choose;
}

Result<void> UpdateEngine::updateFromFiles(const std::string& imagePath,
                                           const std::string& firmwarePath,
                                           const std::string& version) {
    ResourceReads* reads = platform_.reads;
    if (reads == nullptr) {
        return Result<void>::failure("no file reads");
    }
    Result<Bytes> firmware = reads->readBytes(localFileAddress(firmwarePath));
    if (!firmware.ok()) {
        return Result<void>::failure(firmwarePath + ": " + firmware.error);
    }
    Result<Bytes> image = reads->readBytes(localFileAddress(imagePath));
    if (!image.ok()) {
        return Result<void>::failure(imagePath + ": " + image.error);
    }
    takeRelease(UpMode::offline, Histoty{version, ""}, std::move(image.value),
                std::move(firmware.value));
    publish();
    return Result<void>::success();
}

void UpdateEngine::acknowledgeFailure() {
    if (imageUpdated.load() && hidDeviceInfo.get()) {
        sendFinalStep();
        return;
    }
    updateSta.store(UpSta::none);
    updateMode.store(UpMode::none);
    // The failure is acknowledged: its step and cause belong to that attempt
    // and never to a later failure.
    failureNote_.set({});
    stage_.store(UpdateStage::none);
    setProgressLater(0);
    publish();
}

void UpdateEngine::imageUpdateDone(const Result<void>& sent) {
    logLine(sent.ok() ? std::string("image update done 0 [done]!!")
                      : "image update done -1 [" + sent.error + "]!!");
    if (!sent.ok()) {
        updateSta.store(UpSta::failed);
        publish();
        return;
    }
    imageUpdated.store(true);
    stage_.store(UpdateStage::finalStep);
    if (platform_.awaitBootloaderTurn) {
        logLine("final step waits for the bootloader turn");
        setProgressLineLater({UpdateStage::finalStep});
        if (!platform_.awaitBootloaderTurn()) {
            logLine("bootloader turn given up");
            updateSta.store(UpSta::failed);
            publish();
            return;
        }
    }
    if (sendFinalStep()) {
        startWatchdog();
    }
}

bool UpdateEngine::sendFinalStep() {
    // A final step sent again after a failure resumes the update.
    beginUpdateSession();
    // The controller restarts as its bootloader volume once it takes this command.
    if (linkToAttached().finalStep().ok()) {
        finalStep.store(true);
        stage_.store(UpdateStage::waitingForDrive);
        setProgressLineLater({UpdateStage::waitingForDrive});
        return true;
    }
    stage_.store(UpdateStage::finalStep);
    updateSta.store(UpSta::failed);
    publish();
    return false;
}

void UpdateEngine::startWatchdog() {
    QPointer<UpdateEngine> self(this);
    queue3->asyncAfter(10.0, [self] {
        postToMain([self] {
            if (self) {
                self->checkFinalStep();
            }
        });
    });
}

void UpdateEngine::checkFinalStep() {
    // Ten seconds after the final step (or a firmware copy) the user is asked
    // to replug the controller while it has not come back as its drive.
    const bool overdue = finalStep.load();
    if (replugAlert_.exchange(overdue) != overdue) {
        publish();
    }
}

void UpdateEngine::alerted() {
    // The answer counts once per showing of the alert; the alert goes once
    // what the answer does is under way.
    if (!replugAlert_.load()) {
        return;
    }
    logLine("alerted");
    if (hidDeviceInfo.get() && imageUpdated.load()) {
        sendFinalStep();
    } else if (usbMount.load() && updateSta.load() == UpSta::failed) {
        updateSta.store(UpSta::updating);
        beginUpdateSession();
        startFirmwareCopy();
    }
    replugAlert_.store(false);
    publish();
    // Answered before the controller was replugged, or sent to a record that
    // was leaving the bus: while the drive does not come, the user is asked
    // again, as after the first final step.
    if (finalStep.load()) {
        startWatchdog();
    }
}

void UpdateEngine::firmwareUpdateFinished(const Result<void>& written) {
    if (!written.ok()) {
        logLine("fw update failed");
        updateSta.store(UpSta::failed);
        publish();
        return;
    }
    logLine("fw update successed");
    if (replugAlert_.exchange(false)) {
        logLine("close alert view");
        publish();
    }
    updateSta.store(UpSta::suc);
    finalStep.store(false);
    imageUpdated.store(false);
    volumeNote_.set({});
    endUpdateSession(true, expectedVersion_.get());
    complete_.store(true);
    publish();
}

void UpdateEngine::acknowledgeSuccess() {
    if (!complete_.exchange(false)) {
        return;
    }
    // The controller may have come back on another version while "Update
    // complete!" was shown: that failure stays.
    const bool verifyFailed = !failureNote_.get().empty();
    updateSta.store(verifyFailed ? UpSta::failed : UpSta::none);
    updateMode.store(UpMode::none);
    publish();
}

void UpdateEngine::beginUpdateSession() {
    if (sessionOpen_.exchange(true) || platform_.sleepInhibitor == nullptr) {
        return;
    }
    if (const Result<void> taken = platform_.sleepInhibitor->inhibit(); taken.ok()) {
        logLine("sleep inhibited until the update ends");
    } else if (!inhibitorComplained_.exchange(true)) {
        logLine("cannot inhibit sleep: " + escapeForLog(taken.error));
    }
}

void UpdateEngine::endUpdateSession(bool success, const std::string& detail) {
    if (!sessionOpen_.exchange(false)) {
        return;
    }
    if (platform_.sleepInhibitor != nullptr && platform_.sleepInhibitor->held()) {
        platform_.sleepInhibitor->release();
        logLine("sleep allowed again");
    }
    // The front end says the same; the desktop is told only when the user
    // may not be looking at it.
    if (platform_.notifier == nullptr || (userWatching_ && userWatching_())) {
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

void UpdateEngine::volumeMountFailed(const QString& label, const QString& reason) {
    volumeNote_.set(tr("The controller's drive \"%1\" could not be mounted (%2). Open it in "
                       "your file manager, or mount it by hand as the README describes; the "
                       "update then goes on.")
                        .arg(label, reason)
                        .toStdString());
    publish();
}

}  // namespace tarvo
