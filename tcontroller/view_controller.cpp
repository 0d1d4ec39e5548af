// Start-up, the window refresh and shutdown of the main window controller.
#include "tcontroller/view_controller.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <cstdio>
#include <cstdlib>

#include "tcontroller/base/log.h"
#include "tcontroller/base/log_file.h"
#include "tcontroller/catalogue/firmware_names.h"
#include "tcontroller/catalogue/version.h"
#include "tcontroller/device/frame.h"
#include "tcontroller/device/identity.h"
#include "tcontroller/dialogs/alert_view_controller.h"
#include "tcontroller/dialogs/sel_view_controller.h"
#include "tcontroller/focus_ring.h"
#include "tcontroller/image_button.h"
#include "tcontroller/window_state.h"
#include "ui_view_controller.h"

namespace tarvo {
namespace {

const char* const kFailFirstLine = QT_TRANSLATE_NOOP("tarvo::ViewController", "Update Fail!\n");
const char* const kMonitorFailed = QT_TRANSLATE_NOOP(
    "tarvo::ViewController",
    "The tool cannot watch the USB bus, so it cannot find the controller. Close the tool and "
    "start it again. If this happens again, contact support.");

// The styled failure text: the first line in the system font at 16 points, red,
// centred; the second part centred in the default font and colour. The second
// part is escaped, so whatever it holds is shown as plain text and only our own
// constant markup is ever interpreted.
QString failureText(const std::string& secondPart) {
    QString first = ViewController::tr(kFailFirstLine);
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
    if (!platform_.pendingDir.empty()) {
        pending_ = std::make_unique<PendingReleaseStore>(platform_.pendingDir);
    }
    if (platform_.reachabilityFactory) {
        reachability = platform_.reachabilityFactory();
    }
    if (platform_.hidMonitorFactory) {
        rfDeviceMonitor =
            platform_.hidMonitorFactory({HIDMonitorData{identity::kVendorId, identity::kProductId}},
                                        static_cast<int>(frame::kReportSize));
        // Without a monitor no controller can be found; the window says so.
        if (!rfDeviceMonitor) {
            busNotWatched("no HID monitor");
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
    aboutBut = ui_->aboutBut;
    stageLabel = ui_->stageLabel;
    cancelBut = ui_->cancelBut;
    copyDetailsBut = ui_->copyDetailsBut;
    stageLabel->setHidden(true);
    cancelBut->setHidden(true);
    copyDetailsBut->setHidden(true);
    leftBut->setImageDirectory(QString::fromStdString(platform_.resourcesDir + "/images"));
    rightBut->setImageDirectory(QString::fromStdString(platform_.resourcesDir + "/images"));
    applyFontSizes();
    // Keyboard use: Tab follows the layout, top to bottom and left to right,
    // and Enter presses the focused button as Space does.
    setTabOrder(aboutBut, closeBut);
    setTabOrder(closeBut, FailedOKBut);
    setTabOrder(FailedOKBut, leftBut);
    setTabOrder(leftBut, rightBut);
    for (QPushButton* button : {aboutBut.data(), closeBut.data(), FailedOKBut.data()}) {
        button->setAutoDefault(true);
        showFocusRingForKeyboard(button);
    }
    progress->setAccessibleName(tr("Update progress"));
    progress->setAccessibleDescription(tr("How far the firmware update has come"));
    aboutBut->setAccessibleDescription(tr("Shows the version of this tool"));
    closeBut->setAccessibleDescription(tr("Closes the update tool"));
    FailedOKBut->setAccessibleDescription(tr("Acknowledges the failed update"));
    cancelBut->setAccessibleDescription(tr("Stops the download and puts the window back"));
    copyDetailsBut->setAccessibleDescription(
        tr("Puts what support needs about this failure on the clipboard"));
    // Tab follows the screen from the top: the title row, the row under the
    // bar, then the two faces.
    setTabOrder(aboutBut, closeBut);
    setTabOrder(closeBut, cancelBut);
    setTabOrder(cancelBut, FailedOKBut);
    setTabOrder(FailedOKBut, copyDetailsBut);
    setTabOrder(copyDetailsBut, leftBut);
    setTabOrder(leftBut, rightBut);
    connect(leftBut, &QAbstractButton::clicked, this, &ViewController::leftClick);
    connect(rightBut, &QAbstractButton::clicked, this, &ViewController::rightClick);
    connect(FailedOKBut, &QAbstractButton::clicked, this, &ViewController::click);
    connect(closeBut, &QAbstractButton::clicked, this, &ViewController::closeButtonClicked);
    connect(cancelBut, &QAbstractButton::clicked, this, &ViewController::cancelDownload);
    connect(copyDetailsBut, &QAbstractButton::clicked, this, &ViewController::copyDetails);
    connect(aboutBut, &QAbstractButton::clicked, this, &ViewController::showAbout);
}

void ViewController::applyFontSizes() {
    // Text sizes in points relative to the system font (the design's sizes at
    // a 9-point system font), so the window follows the user's font size; the
    // window is sized from its layout and grows with them.
    const QFont system = QApplication::font();
    const double base = system.pointSizeF() > 0 ? system.pointSizeF() : 9.0;
    const auto setSize = [&system, base](QWidget* widget, double atNine, bool bold) {
        QFont font = system;
        font.setPointSizeF(base * atNine / 9.0);
        font.setBold(bold);
        widget->setFont(font);
    };
    setSize(titleLabel, 9.75, false);
    setSize(msgLabel, 11.25, false);
    setSize(FWLabel, 13.5, true);
    setSize(prodLabel, 19.5, true);
    setSize(stageLabel, 9.75, false);
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
    if (platform_.sleepInhibitor != nullptr) {
        platform_.sleepInhibitor->release();
    }
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
        "QPushButton:pressed { background-color: #1f5fb8; }"
        "QPushButton[keyboardFocus=\"true\"] { border: 2px solid #ffffff; }");
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

void ViewController::busNotWatched(const std::string& reason) {
    // However the watch failed, the log and the window say it once: a window
    // that looked like "no controller" would leave the user waiting for a
    // plug-in the tool can never see.
    if (busWatchFailed_.exchange(true)) {
        return;
    }
    logLine("cannot watch the USB bus: " + escapeForLog(reason));
    monitorError_.set(tr(kMonitorFailed).toStdString());
    // Before the form is loaded, the first refresh of viewDidLoad shows it.
    if (titleLabel) {
        refreshUI();
    }
}

void ViewController::watchVolumes() {
    if (platform_.volumeWatcher == nullptr) {
        return;
    }
    connect(platform_.volumeWatcher, &VolumeWatcher::didMount, this, &ViewController::didMount,
            Qt::DirectConnection);
    connect(platform_.volumeWatcher, &VolumeWatcher::didUnmount, this, &ViewController::didUnMount,
            Qt::DirectConnection);
    connect(platform_.volumeWatcher, &VolumeWatcher::mountFailed, this,
            &ViewController::volumeMountFailed, Qt::QueuedConnection);
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
                           imageData.with([](const auto& d) { return d != nullptr; });
    state.finalStep = finalStep.load();
    state.selected = selectedFW.get();
    state.checkingReleases = pressedWhileChecking_.load();
    state.monitorError = monitorError_.get();
    state.failureNote =
        state.sta == UpSta::failed ? stageFailureText(stage_.load()) : failureNote_.get();
    state.downloading = downloading_.load();
    state.downloadNote = downloadNote_.get();
    state.translate = [](const char* source) {
        return QCoreApplication::translate("WindowState", source).toStdString();
    };
    state.volumeNote = volumeNote_.get();
    state.foreignDriveNote = foreignDriveNote_.get().text;
    state.resumeNote = resumeNote_.get();
    const WindowView view = windowFor(state);
    showWindow(view);
    if (view.failure) {
        volumeNote_.set({});
        endUpdateSession(false, view.message);
    }
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
        leftBut->setText(tr("OK"));
        leftBut->setAccessibleDescription(tr("Starts the update shown above"));
        rightBut->setImages("button_cancel", "button_cancel_press");
        rightBut->setText(tr("CANCEL"));
        rightBut->setAccessibleDescription(tr("Goes back without updating"));
    } else {
        leftBut->setImages("button_onlineUpdate", "button_onlineUpdate_press");
        leftBut->setText(tr("UPDATE TO NEWEST"));
        leftBut->setAccessibleDescription(
            tr("Prepares the newest firmware release and asks before installing it"));
        rightBut->setImages("button_offlineUpdate", "button_offlineUpdate_press");
        rightBut->setText(tr("UPDATE TO PREVIOUS"));
        rightBut->setAccessibleDescription(
            tr("Lets you choose an earlier release or firmware files from your disk"));
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
    // output delays this by a second at most). Ending the process would also
    // drop the sleep inhibitor; it is given back first all the same.
    if (platform_.sleepInhibitor != nullptr) {
        platform_.sleepInhibitor->release();
    }
    flushLog(1.0);
    std::fflush(stdout);
    std::_Exit(0);
}

void ViewController::closeButtonClicked() {
    // The button is shown during the final-step wait and on its failure
    // screen too: there, as for the window manager's close, it asks first.
    if (updateRunning() && !confirmCloseDuringUpdate()) {
        return;
    }
    closeClick();
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

void ViewController::showAbout() {
    auto* about = new QMessageBox(this);
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->setWindowTitle(tr("About %1").arg(QApplication::applicationName()));
    about->setIconPixmap(windowIcon().pixmap(64, 64));
    about->setTextFormat(Qt::PlainText);
    about->setText(tr("Tarvo Remote Firmware Update %1").arg(QStringLiteral(TARVO_VERSION)));
    about->setInformativeText(
        tr("Built-in firmware release: %1 (%2)\nSupport log: %3")
            .arg(QString::fromLatin1(kBuiltinVersion), QString::fromLatin1(kBuiltinDate),
                 QString::fromStdString(defaultLogDirectory() + "/" + kLogFileName)));
    about->addButton(tr("Close"), QMessageBox::AcceptRole);
    about->open();
}

bool ViewController::confirmCloseDuringUpdate() {
    QMessageBox ask(this);
    ask.setIcon(QMessageBox::Warning);
    ask.setTextFormat(Qt::PlainText);
    ask.setText(tr("An update is running. Closing now can leave the controller unusable."));
    QPushButton* keep = ask.addButton(tr("Keep updating"), QMessageBox::RejectRole);
    QPushButton* close = ask.addButton(tr("Close anyway"), QMessageBox::DestructiveRole);
    ask.setDefaultButton(keep);
    ask.setEscapeButton(keep);
    ask.exec();
    // The update may have ended while the question was open; closing is then harmless.
    return ask.clickedButton() == close;
}

}  // namespace tarvo
