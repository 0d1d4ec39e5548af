// Start-up, shutdown and the published state of the update engine.
#include "tcontroller/update/update_engine.h"

#include <QCoreApplication>
#include <QPointer>

#include "tcontroller/base/log.h"
#include "tcontroller/catalogue/firmware_names.h"
#include "tcontroller/catalogue/version.h"
#include "tcontroller/device/frame.h"

namespace tarvo {
namespace {

const char* const kMonitorFailed = QT_TRANSLATE_NOOP(
    "tarvo::UpdateEngine",
    "The tool cannot watch the USB bus, so it cannot find the controller. Close the tool and "
    "start it again. If this happens again, contact support.");

}  // namespace

std::unique_ptr<HidMonitor> makeControllerMonitor(const Platform& platform) {
    if (!platform.hidMonitorFactory) {
        return nullptr;
    }
    return platform.hidMonitorFactory({HIDMonitorData{identity::kVendorId, identity::kProductId}},
                                      static_cast<int>(frame::kReportSize));
}

UpdateEngine::UpdateEngine(const Platform& platform, QObject* parent)
    : QObject(parent), platform_(platform), historyURL(historyQueryPrefix(platform.serverBase)) {
    qRegisterMetaType<ProgressLine>();
    queue1 = std::make_unique<WorkQueue>("com.vostrand.myqueue1", *platform_.clock);
    queue2 = std::make_unique<WorkQueue>("com.vostrand.myqueue2", *platform_.clock);
    queue3 = std::make_unique<WorkQueue>("com.vostrand.myqueue3", *platform_.clock);
    downloads_ = std::make_unique<WorkQueue>("com.test.dldata", *platform_.clock);
    if (!platform_.pendingDir.empty()) {
        pending_ = std::make_unique<PendingReleaseStore>(platform_.pendingDir);
    }
    if (platform_.reachabilityFactory) {
        reachability = platform_.reachabilityFactory();
    }
    rfDeviceMonitor = makeControllerMonitor(platform_);
    // Without a monitor no controller can be found; the front end says so.
    if (platform_.hidMonitorFactory && !rfDeviceMonitor) {
        busNotWatched("no HID monitor");
    }
}

UpdateEngine::~UpdateEngine() {
    // Stop every source of events before the state goes.
    if (platform_.volumeWatcher != nullptr) {
        // Stopping the watcher joins its thread, so no mount handler is
        // running once this returns.
        platform_.volumeWatcher->stop();
        platform_.volumeWatcher->disconnect(this);
    }
    if (reachability) {
        reachability->stopNotifier();
        reachability->disconnect(this);
    }
    stoppingMonitor_.store(true);
    if (rfDeviceMonitor) {
        rfDeviceMonitor->stop();
    }
    if (monitorThread_.joinable()) {
        monitorThread_.join();
    }
    if (rfDeviceMonitor) {
        rfDeviceMonitor->disconnect(this);
    }
    queue1.reset();
    queue2.reset();
    queue3.reset();
    downloads_.reset();
    if (platform_.sleepInhibitor != nullptr) {
        platform_.sleepInhibitor->release();
    }
}

BuiltinResources UpdateEngine::resources() const {
    return BuiltinResources{platform_.resourcesDir, platform_.reads, platform_.fileSystem};
}

void UpdateEngine::start() {
    if (started_.exchange(true)) {
        return;
    }
    startDeviceMonitor();

    if (reachability) {
        connect(reachability.get(), &Reachability::reachabilityChanged, this,
                &UpdateEngine::reachabilityChangedWithNote, Qt::DirectConnection);
        // Until the first report (and the release list it brings) is in, a
        // press of the left button waits for it.
        awaitingHistory_.store(true);
        if (const Result<void> started = reachability->startNotifier(); !started.ok()) {
            awaitingHistory_.store(false);
            logLine("could not start reachability notifier");
            logLine("reachability: " + escapeForLog(started.error));
        }
    } else {
        logLine("could not create reachability notifier");
    }

    watchVolumes();
}

void UpdateEngine::startDeviceMonitor() {
    if (!rfDeviceMonitor) {
        return;
    }
    connect(rfDeviceMonitor.get(), &HidMonitor::HIDDeviceConnected, this,
            &UpdateEngine::hidConnectedWithNotification, Qt::DirectConnection);
    connect(rfDeviceMonitor.get(), &HidMonitor::HIDDeviceDisconnected, this,
            &UpdateEngine::hidDisconnectedWithNotification, Qt::DirectConnection);
    connect(rfDeviceMonitor.get(), &HidMonitor::HIDDeviceDataReceived, this,
            &UpdateEngine::hidReadDataWithNotification, Qt::DirectConnection);
    connect(
        rfDeviceMonitor.get(), &HidMonitor::HIDMonitorFailed, this,
        [this](const QString& reason) { busNotWatched(reason.toStdString()); },
        Qt::DirectConnection);
    HidMonitor* monitor = rfDeviceMonitor.get();
    monitorThread_ = std::thread([this, monitor] {
        monitor->start();
        // The loop returns by itself only when it could not watch the bus.
        if (!stoppingMonitor_.load()) {
            busNotWatched("the HID monitor stopped");
        }
    });
}

void UpdateEngine::busNotWatched(const std::string& reason) {
    // However the watch failed, the log and the front end say it once: a
    // window that looked like "no controller" would leave the user waiting
    // for a plug-in the tool can never see.
    if (busWatchFailed_.exchange(true)) {
        return;
    }
    logLine("cannot watch the USB bus: " + escapeForLog(reason));
    monitorError_.set(tr(kMonitorFailed).toStdString());
    publish();
}

void UpdateEngine::watchVolumes() {
    if (platform_.volumeWatcher == nullptr) {
        return;
    }
    connect(platform_.volumeWatcher, &VolumeWatcher::didMount, this, &UpdateEngine::didMount,
            Qt::DirectConnection);
    connect(platform_.volumeWatcher, &VolumeWatcher::didUnmount, this, &UpdateEngine::didUnMount,
            Qt::DirectConnection);
    connect(platform_.volumeWatcher, &VolumeWatcher::mountFailed, this,
            &UpdateEngine::volumeMountFailed, Qt::QueuedConnection);
    if (const Result<void> started = platform_.volumeWatcher->start(); !started.ok()) {
        logLine("could not start volume watcher: " + escapeForLog(started.error));
    }
    // A controller left in bootloader mode before the tool started has its
    // volume mounted already: it is handled as if it had just appeared.
    for (const QVariantMap& volume : platform_.volumeWatcher->mountedAtStart()) {
        if (!bootloaderPath(volume).empty()) {
            didMount(volume);
        }
    }
}

void UpdateEngine::publish() {
    // Each posted publication reads the state as it is when it runs.
    onMainThread([](UpdateEngine& engine) { engine.publishBody(); });
}

void UpdateEngine::onMainThread(std::function<void(UpdateEngine&)> job) {
    if (isMainThread()) {
        job(*this);
        return;
    }
    QPointer<UpdateEngine> self(this);
    postToMain([self, job = std::move(job)] {
        if (self) {
            job(*self);
        }
    });
}

void UpdateEngine::publishBody() {
    {
        std::lock_guard<std::mutex> hold(lock);
        const UpSta sta = updateSta.load();
        // A failure the front ends show ends the session: sleep is allowed
        // again and the desktop may be told. Once the final step was sent the
        // replug alert speaks for it, and the session goes on.
        if (sta == UpSta::failed && !finalStep.load()) {
            volumeNote_.set({});
            std::string detail = failureText(stageFailure(stage_.load()));
            if (detail.empty()) {
                detail =
                    QCoreApplication::translate("WindowState", kGeneralFailureText).toStdString();
            }
            endUpdateSession(false, detail);
        }
        // A choice is shown once: without an update status it is forgotten,
        // so a later press cannot take it for the prepared one.
        if (sta == UpSta::none) {
            selectedFW.set(std::nullopt);
        }
    }
    emit changed();
}

UpdateSnapshot UpdateEngine::snapshot() const {
    UpdateSnapshot s;
    s.sta = updateSta.load();
    s.mode = updateMode.load();
    s.attached = static_cast<bool>(hidDeviceInfo.get());
    s.identified = controllerIdentified();
    s.model = hid_model.get();
    if (!s.model.empty() && s.model != MODEL_NAME) {
        s.otherModel = s.model;
    }
    s.identifyTimedOut = identifyTimedOut_.load();
    s.fw = hid_FW.get();
    s.newest = newestKnownVersion();
    s.hasNetwork = hasNetwork.load();
    s.releases = onlineVers.get();
    s.filesHeld = FWData.with([](const auto& d) { return d.has_value(); }) &&
                  imageData.with([](const auto& d) { return d != nullptr; });
    s.driveMounted = usbMount.load();
    s.mountWithFiles = s.driveMounted && s.filesHeld;
    s.finalStep = finalStep.load();
    if (s.mode != UpMode::none) {
        s.selected = chosen_.get();
    }
    s.checkingReleases = pressedWhileChecking_.load();
    s.monitorError = monitorError_.get();
    s.stage = stage_.load();
    if (s.sta == UpSta::failed) {
        const StageFailure failure = stageFailure(s.stage);
        s.failureNote = failureText(failure);
        s.failureCause = failure.cause.toStdString();
    } else {
        s.failureNote = failureNote_.get();
        s.failureCause = s.failureNote;
    }
    s.downloading = downloading_.load();
    s.downloadNote = downloadNote_.get();
    s.volumeNote = volumeNote_.get();
    s.foreignDriveNote = foreignDriveNote_.get().text;
    s.resumeNote = resumeNote_.get();
    s.complete = complete_.load();
    s.replugAlert = replugAlert_.load();
    s.verifiedVersion = verifiedVersion_.get();
    s.controllersAttached = attachedCount_.load();
    return s;
}

std::string UpdateEngine::newestKnownVersion() const {
    if (hasNetwork.load()) {
        const std::vector<Histoty> versions = onlineVers.get();
        if (!versions.empty() && isNewer(versions.front().ver, FW_VER)) {
            return versions.front().ver;
        }
    }
    return FW_VER;
}

void UpdateEngine::setProgressLater(double value) {
    // The bar shows whole percents; tell only when that value changes so an
    // image of many thousands of frames cannot flood the main queue.
    const int shown = static_cast<int>(value);
    if (shownProgress_.exchange(shown) == shown) {
        return;
    }
    // Emitted on the main thread only: the value travels in the main
    // thread's own inbox, never as a queued signal's copy made on a worker.
    onMainThread([shown](UpdateEngine& engine) { emit engine.progressChanged(shown); });
}

void UpdateEngine::prepareExit() {
    if (platform_.sleepInhibitor != nullptr) {
        platform_.sleepInhibitor->release();
    }
}

}  // namespace tarvo
