// Start-up, the window refresh and shutdown of the main window controller.
#include "tcontroller/view_controller.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <cstdio>
#include <cstdlib>

#include "tcontroller/base/log.h"
#include "tcontroller/catalogue/firmware_names.h"
#include "tcontroller/catalogue/version.h"
#include "tcontroller/device/frame.h"
#include "tcontroller/dialogs/alert_view_controller.h"
#include "tcontroller/dialogs/sel_view_controller.h"
#include "tcontroller/image_button.h"
#include "tcontroller/window_state.h"
#include "ui_view_controller.h"

namespace tarvo {
namespace {

constexpr std::uint16_t kVendorId = 0xC251;
constexpr std::uint16_t kProductId = 0x2201;

const char* const kFailFirstLine = "Update Fail!\n";
const char* const kMonitorFailed =
    "The tool cannot watch the USB bus, so it cannot find the controller. Close the tool and "
    "start it again. If this happens again, contact support.";

// The styled failure text: the first line in the system font at 16 points, red,
// centred; the second part centred in the default font and colour. The second
// part is escaped, so whatever it holds is shown as plain text and only our own
// constant markup is ever interpreted.
QString failureText(const std::string& secondPart) {
    QString first = QString::fromUtf8(kFailFirstLine);
    first.chop(1);  // the trailing line break is the paragraph break below
    return QStringLiteral(
               "<p align=\"center\" style=\"margin:0; font-size:16pt; color:#ff0000;\">%1</p>"
               "<p align=\"center\" style=\"margin:0;\">%2</p>")
        .arg(first.toHtmlEscaped(), QString::fromStdString(secondPart)
                                        .toHtmlEscaped()
                                        .replace(QLatin1Char('\n'), QLatin1String("<br>")));
}

void setPlain(QLabel* label, const std::string& text) {
    label->setTextFormat(Qt::PlainText);
    label->setText(QString::fromStdString(text));
}

}  // namespace

ViewController::ViewController(const Platform& platform, QWidget* parent)
    : QWidget(parent),
      historyURL(historyQueryPrefix(platform.serverBase)),
      platform_(platform),
      ui_(std::make_unique<Ui::ViewController>()) {
    queue1 = std::make_unique<WorkQueue>("com.vostrand.myqueue1", *platform_.clock);
    queue2 = std::make_unique<WorkQueue>("com.vostrand.myqueue2", *platform_.clock);
    queue3 = std::make_unique<WorkQueue>("com.vostrand.myqueue3", *platform_.clock);
    downloads_ = std::make_unique<WorkQueue>("com.test.dldata", *platform_.clock);
    alert = new AlertViewController(this);
    if (platform_.reachabilityFactory) {
        reachability = platform_.reachabilityFactory();
    }
    if (platform_.hidMonitorFactory) {
        rfDeviceMonitor = platform_.hidMonitorFactory({HIDMonitorData{kVendorId, kProductId}},
                                                      static_cast<int>(frame::kReportSize));
        // Without a monitor no controller can be found; the window says so.
        if (!rfDeviceMonitor) {
            monitorError_.set(kMonitorFailed);
        }
    }

    // The window's form: the outlets are bound here, as a storyboard would.
    ui_->setupUi(this);
    titleLabel = ui_->titleLabel;
    FWLabel = ui_->FWLabel;
    prodLabel = ui_->prodLabel;
    msgLabel = ui_->msgLabel;
    leftBut = ui_->leftBut;
    rightBut = ui_->rightBut;
    progress = ui_->progress;
    FailedOKBut = ui_->FailedOKBut;
    closeBut = ui_->closeBut;
    stageLabel = ui_->stageLabel;
    cancelBut = ui_->cancelBut;
    copyDetailsBut = ui_->copyDetailsBut;
    stageLabel->setHidden(true);
    cancelBut->setHidden(true);
    copyDetailsBut->setHidden(true);
    leftBut->setImageDirectory(QString::fromStdString(platform_.resourcesDir + "/images"));
    rightBut->setImageDirectory(QString::fromStdString(platform_.resourcesDir + "/images"));
    connect(leftBut, &QAbstractButton::clicked, this, &ViewController::leftClick);
    connect(rightBut, &QAbstractButton::clicked, this, &ViewController::rightClick);
    connect(FailedOKBut, &QAbstractButton::clicked, this, &ViewController::click);
    connect(closeBut, &QAbstractButton::clicked, this, &ViewController::closeClick);
    connect(cancelBut, &QAbstractButton::clicked, this, &ViewController::cancelDownload);
    connect(copyDetailsBut, &QAbstractButton::clicked, this, &ViewController::copyDetails);
}

ViewController::~ViewController() {
    // Only tests and the demo destroy the controller; the tool itself ends
    // through closeClick(). Stop every source of events before the state goes.
    delete openChooser.data();
    if (platform_.volumeWatcher != nullptr) {
        // Started by viewDidLoad; stopping it joins its thread, so no mount
        // handler is running once this returns.
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
}

BuiltinResources ViewController::resources() const {
    return BuiltinResources{platform_.resourcesDir, platform_.reads, platform_.fileSystem};
}

void ViewController::viewDidLoad() {
    // The form is loaded in the constructor; the steps below wire it to the
    // services, in this order.
    alert->delegate = this;
    progress->setStyleSheet(
        "QProgressBar { background-color: #d3d3d3; border: none; border-radius: 4px; }"
        "QProgressBar::chunk { background-color: #2f80ed; border-radius: 4px; }");
    FailedOKBut->setStyleSheet(
        "QPushButton { background-color: #2f80ed; color: white; border: none;"
        " border-radius: 6px; padding: 6px 28px; font-weight: bold; }"
        "QPushButton:pressed { background-color: #1f5fb8; }");
    FailedOKBut->setHidden(updateSta.load() != UpSta::failed);
    refreshUI();

    startDeviceMonitor();

    if (reachability) {
        connect(reachability.get(), &Reachability::reachabilityChanged, this,
                &ViewController::reachabilityChangedWithNote, Qt::DirectConnection);
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

void ViewController::startDeviceMonitor() {
    if (!rfDeviceMonitor) {
        return;
    }
    connect(rfDeviceMonitor.get(), &HidMonitor::HIDDeviceConnected, this,
            &ViewController::hidConnectedWithNotification, Qt::DirectConnection);
    connect(rfDeviceMonitor.get(), &HidMonitor::HIDDeviceDisconnected, this,
            &ViewController::hidDisconnectedWithNotification, Qt::DirectConnection);
    connect(rfDeviceMonitor.get(), &HidMonitor::HIDDeviceDataReceived, this,
            &ViewController::hidReadDataWithNotification, Qt::DirectConnection);
    HidMonitor* monitor = rfDeviceMonitor.get();
    monitorThread_ = std::thread([this, monitor] {
        monitor->start();
        // The loop returns by itself only when it could not watch the bus.
        if (!stoppingMonitor_.load()) {
            monitorError_.set(kMonitorFailed);
            refreshUI();
        }
    });
}

void ViewController::watchVolumes() {
    if (platform_.volumeWatcher == nullptr) {
        return;
    }
    connect(platform_.volumeWatcher, &VolumeWatcher::didMount, this, &ViewController::didMount,
            Qt::DirectConnection);
    connect(platform_.volumeWatcher, &VolumeWatcher::didUnmount, this, &ViewController::didUnMount,
            Qt::DirectConnection);
    if (const Result<void> started = platform_.volumeWatcher->start(); !started.ok()) {
        logLine("could not start volume watcher: " + escapeForLog(started.error));
    }
    // A controller left in bootloader mode before the tool started has its
    // volume mounted already: it is handled as if it had just appeared.
    for (const std::string& path : platform_.volumeWatcher->mountedAtStart()) {
        if (!firstMatchingMountPoint(path).empty()) {
            didMount(QVariantMap{{QStringLiteral("NSDevicePath"), QString::fromStdString(path)}});
        }
    }
}

void ViewController::refreshUI() {
    if (isMainThread()) {
        std::lock_guard<std::mutex> hold(lock);
        refreshBody();
        return;
    }
    // Each queued refresh reads the fields as they are when it runs.
    QPointer<ViewController> self(this);
    postToMain([self] {
        if (self) {
            self->refreshUI();
        }
    });
}

void ViewController::refreshBody() {
    if (refreshObserver) {
        refreshObserver();
    }
    WindowState state;
    state.sta = updateSta.load();
    state.mode = updateMode.load();
    state.title = APP_NAME + FW_DATE;
    state.attached = static_cast<bool>(hidDeviceInfo.get());
    state.identified = controllerIdentified();
    if (const std::string model = hid_model.get(); !model.empty() && model != MODEL_NAME) {
        state.otherModel = model;
    }
    state.identifyTimedOut = identifyTimedOut_.load();
    state.fw = hid_FW.get();
    state.newest = newestKnownVersion();
    state.hasNetwork = hasNetwork.load();
    state.mountWithFiles = usbMount.load() &&
                           FWData.with([](const auto& d) { return d.has_value(); }) &&
                           imageData.with([](const auto& d) { return d.has_value(); });
    state.finalStep = finalStep.load();
    state.selected = selectedFW.get();
    state.checkingReleases = pressedWhileChecking_.load();
    state.monitorError = monitorError_.get();
    state.failureNote =
        state.sta == UpSta::failed ? stageFailureText(stage_.load()) : failureNote_.get();
    state.downloading = downloading_.load();
    state.downloadNote = downloadNote_.get();
    showWindow(windowFor(state));
    // The confirmation has shown the chosen version; without an update status
    // the choice is forgotten, so a later refresh cannot offer it again.
    if (state.sta == UpSta::none) {
        selectedFW.set(std::nullopt);
    }
}

void ViewController::showWindow(const WindowView& view) {
    setPlain(titleLabel, view.title);
    setPlain(prodLabel, view.product);
    setPlain(FWLabel, view.firmware);
    if (view.failure) {
        msgLabel->setTextFormat(Qt::RichText);
        msgLabel->setText(failureText(view.message));
    } else {
        setPlain(msgLabel, view.message);
    }
    progress->setHidden(!view.progressShown);
    stageLabel->setHidden(!view.progressShown);
    cancelBut->setHidden(!view.cancelShown);
    copyDetailsBut->setHidden(!view.detailsShown);
    closeBut->setHidden(!view.closeShown);
    FailedOKBut->setHidden(!view.okShown);
    leftBut->setEnabled(view.leftEnabled);
    rightBut->setEnabled(view.rightEnabled);
    if (view.modeChosen) {
        leftBut->setImages("button_ok", "button_ok_press");
        rightBut->setImages("button_cancel", "button_cancel_press");
    } else {
        leftBut->setImages("button_onlineUpdate", "button_onlineUpdate_press");
        rightBut->setImages("button_offlineUpdate", "button_offlineUpdate_press");
    }
}

std::string ViewController::newestKnownVersion() const {
    if (hasNetwork.load()) {
        const std::vector<Histoty> versions = onlineVers.get();
        if (!versions.empty() && isNewer(versions.front().ver, FW_VER)) {
            return versions.front().ver;
        }
    }
    return FW_VER;
}

void ViewController::setProgressLater(double value) {
    // The bar shows whole percents; post only when that shown value changes so
    // an image of many thousands of frames cannot flood the main queue.
    const int shown = static_cast<int>(value);
    if (shownProgress_.exchange(shown) == shown) {
        return;
    }
    QPointer<QProgressBar> bar = progress;
    postToMain([bar, shown] {
        if (bar) {
            bar->setValue(shown);
        }
    });
}

void ViewController::closeClick() {
    // Nothing is saved and nothing needs stopping: end the process at once,
    // once the log lines queued so far are out (a stuck reader of standard
    // output delays this by a second at most).
    flushLog(1.0);
    std::fflush(stdout);
    std::_Exit(0);
}

void ViewController::closeEvent(QCloseEvent* event) {
    // Outside an update the window manager's close does what the close button
    // does. During one it asks first: an erased controller without its image
    // and firmware does not start.
    if (updateRunning() && !confirmCloseDuringUpdate()) {
        event->ignore();
        return;
    }
    closeClick();
}

bool ViewController::confirmCloseDuringUpdate() {
    QMessageBox ask(this);
    ask.setIcon(QMessageBox::Warning);
    ask.setTextFormat(Qt::PlainText);
    ask.setText(
        QStringLiteral("An update is running. Closing now can leave the controller unusable."));
    QPushButton* keep = ask.addButton(QStringLiteral("Keep updating"), QMessageBox::RejectRole);
    QPushButton* close =
        ask.addButton(QStringLiteral("Close anyway"), QMessageBox::DestructiveRole);
    ask.setDefaultButton(keep);
    ask.setEscapeButton(keep);
    ask.exec();
    // The update may have ended while the question was open; closing is then harmless.
    return ask.clickedButton() == close;
}

}  // namespace tarvo
