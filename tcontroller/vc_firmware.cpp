// The firmware write: when the controller's bootloader volume mounts, the
// firmware file is written onto it as FW.bin. Mount handlers run on the volume
// watcher's thread, the copy on queue2.
#include <QPointer>

#include "tcontroller/dialogs/alert_view_controller.h"
#include "tcontroller/platform/log.h"
#include "tcontroller/view_controller.h"

namespace tarvo {
namespace {

// The mount path of a volume notification, or empty when it carries none.
std::string devicePath(const QVariant& userInfo) {
    if (userInfo.metaType() != QMetaType::fromType<QVariantMap>()) {
        return {};
    }
    const QVariant path = userInfo.toMap().value(QStringLiteral("NSDevicePath"));
    if (path.metaType() != QMetaType::fromType<QString>()) {
        return {};
    }
    return path.toString().toStdString();
}

}  // namespace

std::string ViewController::firstMatchingMountPoint(const std::string& path) const {
    // Exact, case-sensitive: a path that only begins with a mount point is another volume.
    for (const std::string& point : platform_.bootloaderMountPoints) {
        if (!path.empty() && path == point) {
            return point;
        }
    }
    return {};
}

void ViewController::didMount(const QVariant& userInfo) {
    std::lock_guard<std::mutex> hold(lock2);
    const std::string path = firstMatchingMountPoint(devicePath(userInfo));
    if (path.empty()) {
        return;
    }
    mountedBootloader_.set(path);
    logLine("Mount: " + path);
    if (!FWData.with([](const auto& d) { return d.has_value(); })) {
        // Plugged in already in bootloader mode with nothing chosen: recover it
        // with the built-in release.
        takeBuiltInRelease();
    }
    usbMount.store(true);
    QPointer<ViewController> self(this);
    postToMain([self] {
        if (self) {
            self->volumeMounted();
        }
    });
}

void ViewController::volumeMounted() {
    const bool presented = alert->isPresented();
    logLine(std::string("hide alert ") + (presented ? "true" : "false"));
    if (presented) {
        alert->dismiss();
    }
    updateSta.store(UpSta::updating);
    startFirmwareCopy();
}

void ViewController::startFirmwareCopy() {
    queue2->async([this] {
        copyFirmware(FWData.get());
        startWatchdog();
    });
}

void ViewController::copyFirmware(const std::optional<Bytes>& data) {
    if (!data) {
        // No firmware to write (the built-in file could not be read, or a
        // re-attached controller emptied it): leave the volume untouched.
        if (updateSta.load() == UpSta::updating) {
            logLine("copy file failed");
        }
        reportFirmwareResult(-1);
        return;
    }
    FileSystem& fs = *platform_.fileSystem;
    const std::string volume = mountedBootloader_.get();
    if (!usbMount.load() || !fs.isMountPoint(volume)) {
        // The volume went away before the write: its mount point is now a
        // plain folder of this computer's disk, and a file written there would
        // never reach the controller. That is a failed write, not a success.
        if (updateSta.load() == UpSta::updating) {
            logLine("copy file failed");
        }
        reportFirmwareResult(-1);
        return;
    }
    std::string error;
    if (fs.remove(volume + "/firmware.bin", &error)) {
        logLine("Remove successfully 1");
    } else {
        logLine("An error took place 1: " + error);
    }
    setProgressLater(96);
    error.clear();
    if (fs.remove(volume + "/FW.bin", &error)) {
        logLine("Remove successfully 2");
    } else {
        logLine("An error took place 2: " + error);
    }
    setProgressLater(98);
    error.clear();
    if (fs.createFile(volume + "/FW.bin", *data, &error)) {
        logLine("file copied");
        setProgressLater(100);
        reportFirmwareResult(0);
        return;
    }
    if (updateSta.load() == UpSta::updating) {
        logLine("copy file failed");
    }
    reportFirmwareResult(-1);
}

void ViewController::reportFirmwareResult(int code) {
    QPointer<ViewController> self(this);
    postToMain([self, code] {
        if (self) {
            self->firmwareUpdateFinished(code);
        }
    });
}

void ViewController::didUnMount(const QVariant& userInfo) {
    std::lock_guard<std::mutex> hold(lock2);
    const std::string path = firstMatchingMountPoint(devicePath(userInfo));
    if (path.empty()) {
        return;
    }
    logLine("Unmount: " + path);
    usbMount.store(false);
    if (finalStep.load()) {
        updateSta.store(UpSta::failed);
        refreshUI();
    }
    if (updateSta.load() == UpSta::suc) {
        QPointer<ViewController> self(this);
        postToMain([self] {
            if (self && self->alert->shown) {
                self->alert->dismiss();
            }
        });
    }
}

}  // namespace tarvo
