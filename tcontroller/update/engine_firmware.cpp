// The firmware write: when the controller's bootloader volume mounts, the
// firmware file is written onto it as FW.bin. Mount handlers run on the volume
// watcher's thread, the copy on queue2.
#include <QPointer>

#include "tcontroller/base/log.h"
#include "tcontroller/device/progress_weights.h"
#include "tcontroller/platform/bootloader_drive.h"
#include "tcontroller/update/update_engine.h"

namespace tarvo {
namespace {

// A text entry of a volume notification, or empty when it carries none.
std::string volumeText(const QVariant& userInfo, const char* key) {
    if (userInfo.metaType() != QMetaType::fromType<QVariantMap>()) {
        return {};
    }
    const QVariant text = userInfo.toMap().value(QString::fromLatin1(key));
    if (text.metaType() != QMetaType::fromType<QString>()) {
        return {};
    }
    return text.toString().toStdString();
}

// The words for why a drive is not the controller's.
QString mismatchText(const DriveVerdict& verdict) {
    const QString detail = QString::fromStdString(verdict.detail);
    switch (verdict.mismatch) {
        case DriveMismatch::none:
            break;
        case DriveMismatch::notUsb:
            return UpdateEngine::tr("it is not a USB drive");
        case DriveMismatch::tooLarge:
            return UpdateEngine::tr("it holds %1 MiB; the controller's drive holds at most %2 MiB")
                .arg(detail)
                .arg(kBootloaderDriveMaxBytes >> 20);
        case DriveMismatch::otherFiles:
            return UpdateEngine::tr("it holds other files, such as \"%1\"").arg(detail);
        case DriveMismatch::unreadable:
            return UpdateEngine::tr("its contents cannot be read: %1").arg(detail);
    }
    return {};
}

}  // namespace

std::string UpdateEngine::bootloaderPath(const QVariant& userInfo) const {
    std::string path = volumeText(userInfo, kVolumePathKey);
    if (path.empty()) {
        return {};
    }
    // A watcher that read the filesystem's label knows the volume wherever it
    // is mounted ("CRP DISABLE1" when the usual folder was taken).
    if (volumeText(userInfo, kVolumeLabelKey) == kBootloaderLabel) {
        return path;
    }
    // Otherwise only the known mount points count, case-sensitively, each as
    // it is or with the number a desktop adds for a second drive of the same
    // label ("CRP DISABLE1"): any other path that only begins with one is
    // another volume.
    for (const std::string& point : platform_.bootloaderMountPoints) {
        if (isBootloaderMountPoint(path, point)) {
            return path;
        }
    }
    return {};
}

DriveVerdict UpdateEngine::examineDrive(const std::string& path) {
    if (platform_.fileSystem == nullptr) {
        return {DriveMismatch::unreadable, "no file system access"};
    }
    Result<VolumeFacts> facts = platform_.fileSystem->describeVolume(path);
    if (!facts.ok()) {
        return {DriveMismatch::unreadable, facts.error};
    }
    // A watcher that knows the drive's bus (UDisks) said so with the mount.
    const std::string bus = driveBuses_.with([&](const auto& buses) {
        const auto it = buses.find(path);
        return it != buses.end() ? it->second : std::string();
    });
    if (!bus.empty()) {
        facts.value->bus = bus;
    }
    return checkBootloaderDrive(*facts.value);
}

void UpdateEngine::refuseDrive(const std::string& path, const DriveVerdict& verdict) {
    logLine("not the controller's drive: " + path + ": " +
            escapeForLog(driveMismatchText(verdict)));
    foreignDriveNote_.set(
        {path, tr("A drive named \"%1\" was found at %2, but it does not look like the "
                  "controller (%3). Nothing was written to it.")
                   .arg(QString::fromLatin1(kBootloaderLabel), QString::fromStdString(path),
                        mismatchText(verdict))
                   .toStdString()});
    publish();
}

void UpdateEngine::didMount(const QVariant& userInfo) {
    std::lock_guard<std::mutex> hold(lock2);
    const std::string path = bootloaderPath(userInfo);
    if (path.empty()) {
        return;
    }
    driveBuses_.mutate([&](auto& buses) { buses[path] = volumeText(userInfo, kVolumeBusKey); });
    // A label is all a USB stick needs to be mounted where the controller's
    // drive would be: one that is plainly not the controller's is left alone
    // and changes nothing. One that cannot be read (gone again already) goes
    // on to the copy, which checks it again and fails without touching it.
    if (const DriveVerdict verdict = examineDrive(path);
        !verdict.looksLikeBootloader() && verdict.mismatch != DriveMismatch::unreadable) {
        foreignDrives_.mutate([&](auto& paths) { paths.insert(path); });
        refuseDrive(path, verdict);
        return;
    }
    mountedBootloader_.set(path);
    logLine("Mount: " + path);
    // A controller whose image was sent in this run gets that release's
    // firmware (sentRelease_); only one plugged in already in bootloader mode,
    // with nothing chosen, is recovered with the built-in release.
    if (!(imageUpdated.load() && sentRelease_.get()) &&
        !FWData.with([](const auto& d) { return d.has_value(); })) {
        takeRecoveryRelease();
    }
    usbMount.store(true);
    const unsigned unmounts = unmounts_.load();
    QPointer<UpdateEngine> self(this);
    postToMain([self, path, unmounts] {
        if (self) {
            self->volumeMounted();
            self->startFirmwareCopyOn(path, unmounts);
        }
    });
}

void UpdateEngine::takeRecoveryRelease() {
    Result<std::optional<PendingRelease>> kept =
        pending_ ? pending_->load() : Result<std::optional<PendingRelease>>::success(std::nullopt);
    if (!kept.ok()) {
        logLine("the interrupted update cannot be finished: " + escapeForLog(kept.error) +
                "; writing the built-in release");
        pending_->clear();
    } else if (std::optional<PendingRelease>& release = *kept.value) {
        // The tool was closed or stopped after the image was sent: the
        // controller's drive gets that release's firmware, never another's.
        logLine("finishing the interrupted update to " + escapeForLog(release->version));
        resumeNote_.set(tr("Finishing the interrupted update to %1")
                            .arg(QString::fromStdString(release->version))
                            .toStdString());
        const std::string version = release->version;
        takeRelease(UpMode::online, Histoty{version, ""}, std::move(release->image),
                    std::move(release->firmware));
        return;
    }
    takeBuiltInRelease();
}

void UpdateEngine::volumeMounted() {
    // The drive is here: the replug alert has nothing left to ask.
    const bool presented = replugAlert_.exchange(false);
    logLine(std::string("hide alert ") + (presented ? "true" : "false"));
    updateSta.store(UpSta::updating);
    // A controller found in its bootloader is written without a transfer
    // before it: the session (no sleep, the desktop told the end) starts here.
    beginUpdateSession();
    if (presented) {
        publish();
    }
}

void UpdateEngine::startFirmwareCopy() {
    // A copy started from the alert goes to the volume mounted last.
    startFirmwareCopyOn(mountedBootloader_.get(), unmounts_.load());
}

void UpdateEngine::startFirmwareCopyOn(const std::string& volume, unsigned unmountsAtStart) {
    queue2->async([this, volume, unmountsAtStart] {
        // What to write is decided when the job starts: the firmware that
        // belongs to the image the controller holds, else the chosen release.
        std::optional<SentRelease> release;
        if (imageUpdated.load()) {
            release = sentRelease_.get();
        }
        if (!release) {
            std::lock_guard<std::mutex> hold(releaseLock_);
            if (std::optional<Bytes> firmware = FWData.get()) {
                release = SentRelease{releaseVersion_, std::move(*firmware)};
            }
        }
        copyFirmware(volume, release, unmountsAtStart);
        startWatchdog();
    });
}

void UpdateEngine::copyFirmware(const std::string& volume,
                                const std::optional<SentRelease>& release,
                                unsigned unmountsAtStart) {
    stage_.store(UpdateStage::firmwareWrite);
    setProgressLineLater({UpdateStage::firmwareWrite});
    const auto failed = [this](const std::string& why) {
        if (updateSta.load() == UpSta::updating) {
            logLine("copy file failed");
        }
        reportFirmwareResult(Result<void>::failure(why));
    };
    if (!release) {
        // No firmware to write (the built-in file could not be read, or a
        // re-attached controller emptied it): leave the volume untouched.
        failed("no firmware to write");
        return;
    }
    FileSystem& fs = *platform_.fileSystem;
    const auto stillMounted = [&] {
        return usbMount.load() && unmounts_.load() == unmountsAtStart && fs.isMountPoint(volume);
    };
    if (!stillMounted()) {
        // The volume went away before the write: its mount point is now a
        // plain folder of this computer's disk, and a file written there would
        // never reach the controller. That is a failed write, not a success.
        failed("the drive went away before the write");
        return;
    }
    // Checked again right before anything on the drive is touched: a drive
    // that could not be read at its mount is taken only now that it can.
    if (const DriveVerdict verdict = examineDrive(volume); !verdict.looksLikeBootloader()) {
        refuseDrive(volume, verdict);
        failed("not the controller's drive");
        return;
    }
    // Deleting the old files is an attempt only: a missing file or any other
    // error is logged and the write goes on.
    const auto removeOld = [&](int step, const char* name) {
        if (const Result<void> removed = fs.remove(volume + "/" + name); removed.ok()) {
            logLine("Remove successfully " + std::to_string(step));
        } else {
            logLine("An error took place " + std::to_string(step) + ": " +
                    escapeForLog(removed.error));
        }
    };
    removeOld(1, "firmware.bin");
    setProgressLater(progress::kFirstDeletion);
    removeOld(2, "FW.bin");
    setProgressLater(progress::kSecondDeletion);
    // The file is created only where nothing stands (a link that reappeared
    // after the delete makes the write fail), and the volume must still be the
    // one this job was started for once the bytes are on it.
    if (const Result<void> written = fs.createFile(volume + "/FW.bin", release->firmware);
        !written.ok()) {
        logLine("could not write FW.bin: " + escapeForLog(written.error));
        failed("could not write FW.bin: " + written.error);
        return;
    }
    if (!stillMounted()) {
        // Whatever the bytes landed on is not the volume this job was for: the
        // file must not stay there to be taken later as this release's.
        logLine("volume went away while writing");
        fs.remove(volume + "/FW.bin");
        failed("the drive went away while writing");
        return;
    }
    logLine("file copied");
    expectedVersion_.set(release->ver);
    setProgressLater(progress::kWritten);
    reportFirmwareResult(Result<void>::success());
}

void UpdateEngine::reportFirmwareResult(const Result<void>& written) {
    QPointer<UpdateEngine> self(this);
    postToMain([self, written] {
        if (self) {
            self->firmwareUpdateFinished(written);
        }
    });
}

void UpdateEngine::didUnMount(const QVariant& userInfo) {
    std::lock_guard<std::mutex> hold(lock2);
    const std::string path = bootloaderPath(userInfo);
    if (path.empty()) {
        return;
    }
    driveBuses_.mutate([&](auto& buses) { buses.erase(path); });
    // The refused drive is no longer spoken of once it is gone.
    const bool noted = foreignDriveNote_.mutate([&](ForeignDriveNote& note) {
        if (note.path != path) {
            return false;
        }
        note = {};
        return true;
    });
    // A drive that was not taken for the controller's leaves without touching
    // the update.
    if (foreignDrives_.mutate([&](auto& paths) { return paths.erase(path) != 0; })) {
        publish();
        return;
    }
    if (noted) {
        publish();
    }
    logLine("Unmount: " + path);
    ++unmounts_;
    usbMount.store(false);
    if (finalStep.load()) {
        updateSta.store(UpSta::failed);
        publish();
    }
    if (updateSta.load() == UpSta::suc) {
        if (replugAlert_.exchange(false)) {
            publish();
        }
    }
}

}  // namespace tarvo
