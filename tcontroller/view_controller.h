#pragma once

#include <QPointer>
#include <QVariant>
#include <QWidget>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tcontroller/base/guarded.h"
#include "tcontroller/base/util.h"
#include "tcontroller/catalogue/builtin_files.h"
#include "tcontroller/device/identity.h"
#include "tcontroller/platform/bootloader_drive.h"
#include "tcontroller/platform/platform.h"
#include "tcontroller/platform/work_queue.h"
#include "tcontroller/update/pending_release.h"
#include "tcontroller/update_progress.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace Ui {
class ViewController;
}

namespace tarvo {

class AlertViewController;
class ImageButton;
class SelViewController;
struct WindowView;

// The controller of the one main window. It owns every piece of updater state:
// the attached controller and what was read from it, the version history, the
// chosen release, the image and firmware bytes, the update mode and status, the
// work queues and the two locks. It is split across several source files by
// concern (start-up and refresh, device handlers, network, update flow, image
// transfer, firmware write) but stays one class, because every handler works on
// the same state.
//
// Threads: views are touched only on the main thread. The HID handlers run on
// the monitor's thread, the volume handlers on the watcher's thread, the image
// transfer on queue1, the firmware copy on queue2 and the watchdog on queue3.
// Small fields are atomics; strings, buffers and records are Guarded.
class ViewController : public QWidget {
    Q_OBJECT

  public:
    using UpSta = Util::UpSta;
    using UpMode = Util::UpMode;
    using ReadSta = Util::ReadSta;
    using Histoty = Util::Histoty;

    explicit ViewController(const Platform& platform, QWidget* parent = nullptr);
    ~ViewController() override;

    // ---- Outlets: views of the window, bound when the form is loaded.
    QPointer<QLabel> titleLabel;
    QPointer<QLabel> FWLabel;
    QPointer<QLabel> prodLabel;
    QPointer<QLabel> msgLabel;
    QPointer<ImageButton> leftBut;
    QPointer<ImageButton> rightBut;
    QPointer<QProgressBar> progress;
    QPointer<QPushButton> FailedOKBut;
    QPointer<QPushButton> closeBut;
    QPointer<QPushButton> aboutBut;
    QPointer<QLabel> stageLabel;           // the stage and time left, under the bar
    QPointer<QPushButton> cancelBut;       // cancels a download
    QPointer<QPushButton> copyDetailsBut;  // a failure's details for support

    // ---- Work queues.
    std::unique_ptr<WorkQueue> queue1;  // image transfer
    std::unique_ptr<WorkQueue> queue2;  // firmware copy
    std::unique_ptr<WorkQueue> queue3;  // watchdog

    AlertViewController* alert = nullptr;  // owned by this widget (Qt parent)
    std::mutex lock;                       // serialises the window refresh
    std::mutex lock2;                      // serialises device and volume events

    // ---- Constants.
    const std::string FW_VER = kBuiltinVersion;
    const std::string FW_DATE = kBuiltinDate;
    const std::string MODEL_NAME = identity::kModelCode;
    const std::string APP_NAME = "Tarvo Remote Firmware Update - ";
    const std::string historyURL;

    // ---- Updater state.
    Guarded<std::optional<Histoty>> selectedFW;
    Guarded<std::vector<Histoty>> onlineVers;
    Guarded<std::string> hid_model;
    Guarded<std::string> hid_FW{std::string("000")};
    std::atomic<ReadSta> readSta{ReadSta::MODEL};
    std::atomic<UpMode> updateMode{UpMode::none};
    std::atomic<UpSta> updateSta{UpSta::none};
    std::unique_ptr<Reachability> reachability;
    std::atomic<bool> hasNetwork{false};
    Guarded<HIDDevicePtr> hidDeviceInfo;
    std::atomic<bool> usbMount{false};
    std::atomic<bool> imageUpdated{false};
    std::atomic<bool> finalStep{false};
    // The image is held once: a transfer shares it instead of copying it.
    Guarded<std::shared_ptr<const Bytes>> imageData;
    Guarded<std::optional<Bytes>> FWData;
    std::atomic<bool> flag{false};
    std::unique_ptr<HidMonitor> rfDeviceMonitor;

    // ---- Start-up and refresh.
    void viewDidLoad();
    // Redraws the window from the fields; callable from any thread.
    void refreshUI();

    // ---- Device link.
    bool sendReport(const Bytes& frame, bool expectReply);
    void hidConnectedWithNotification(const HIDDevicePtr& device);
    void hidDisconnectedWithNotification(const HIDDevicePtr& device);
    void hidReadDataWithNotification(const QByteArray& report);

    // ---- Network.
    void reachabilityChangedWithNote(Reachability* note);
    void queryHistory();

    // ---- Buttons.
    void click();
    void leftClick();
    void rightClick();
    void closeClick();
    // Opens the About box: the tool's version, the built-in release and where
    // the support log is. Not modal to the update; returns at once.
    void showAbout();
    // Stops the download that runs and puts the window back as it was.
    void cancelDownload();
    // Puts supportDetails() on the clipboard.
    void copyDetails();
    // What support needs about a failure: the versions of the tool, the
    // controller and the release, what the window says, and the log's latest lines.
    std::string supportDetails() const;

    // ---- Update engine.
    // True while a release's files are on their way.
    bool downloading() const { return downloading_.load(); }
    void imageUpdateDone(int code, const std::string& message);
    void startWatchdog();
    void checkFinalStep();
    void alerted();
    void firmwareUpdateFinished(int code);
    void sendImage(const Bytes& image);
    void didMount(const QVariant& userInfo);
    void didUnMount(const QVariant& userInfo);
    void volumeMounted();
    void startFirmwareCopy();
    void reportFirmwareResult(int code);

    // ---- The release to install.
    // Takes a release as the one to install: where it comes from, its version
    // and both files, set together so that an image is never paired with
    // another release's firmware. Every source (built-in, download, chooser,
    // local files) goes through here. Safe from any thread.
    void takeRelease(UpMode source, const Histoty& record, std::optional<Bytes> image,
                     std::optional<Bytes> firmware);
    // True when the attached controller answered the identification as the
    // supported model with its firmware version: only then may it be erased.
    bool controllerIdentified() const;
    // True from the erase until the update ends, while the final step is awaited too.
    bool updateRunning() const;
    // True until the first network report and the release list it brings are in.
    bool awaitingHistory() const { return awaitingHistory_.load(); }

    // ---- Services and seams.
    const Platform& platform() const { return platform_; }
    BuiltinResources resources() const;
    // Opens the version chooser as a modal window (main thread).
    void presentChooser();
    // Called inside every refresh body, on the main thread under `lock` (tests).
    std::function<void()> refreshObserver;
    // The chooser that is open, if any (tests drive it).
    QPointer<SelViewController> openChooser;

  signals:
    // The line under the bar changed to `text` (main thread).
    void progressLineShown(const QString& text);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    // The firmware (and its version) that belongs to the image sent to the
    // controller: what the bootloader volume must receive.
    struct SentRelease {
        std::string ver;
        Bytes firmware;
    };

    // The device an image transfer writes to, and the attach it belongs to.
    struct TransferTarget {
        HIDDevicePtr device;
        unsigned epoch = 0;
    };
    // How a stage of the transfer ended: on to the next, a failed write, or
    // the controller gone (detached, or re-attached as another device record).
    enum class TransferEnd { done, writeFailed, gone };

    // Sets the text sizes from the system font.
    void applyFontSizes();
    // Connects the HID notifications and runs the monitor on its own thread.
    void startDeviceMonitor();
    // The HID monitor cannot watch the bus (wholly, or for plug-ins): logged
    // with `reason` and shown in the window, once. Any thread.
    void busNotWatched(const std::string& reason);
    // Connects the volume notifications; a bootloader volume mounted already
    // is handled like a new mount.
    void watchVolumes();
    void refreshBody();
    void showWindow(const WindowView& view);
    // The second press: starts the prepared update on queue1.
    void startPreparedUpdate();
    void runTransfer();
    bool stillAttached(const TransferTarget& target) const;
    TransferEnd eraseStage(const TransferTarget& target);
    TransferEnd dataStage(const Bytes& image, const TransferTarget& target);
    // The newest release known: the built-in one, or the newest published one
    // when the history holds a newer one.
    std::string newestKnownVersion() const;
    // The release list arrived or failed: a press that waited for it goes on.
    void historySettled();
    // Starts the identification watchdog for the device attached in `epoch`.
    void watchIdentification(unsigned epoch);
    // Compares the version the controller came back with to the one written.
    void verifyUpdate(const std::string& reported);
    // One frame to one device record (the transfer keeps writing to the
    // device it erased, never to one attached later).
    bool sendReportTo(const HIDDevicePtr& device, const Bytes& frame, bool expectReply);
    // From the erase until the update ends the computer must not sleep; the
    // first call takes the system's inhibitor, later ones while it is held do
    // nothing. Any thread.
    void beginUpdateSession();
    // The update ended (main thread): sleep is allowed again, and the desktop
    // is told the outcome when the window is not the active one. Only the
    // first call after beginUpdateSession() does anything.
    void endUpdateSession(bool success, const std::string& detail);
    // UDisks could not mount the bootloader volume (main thread).
    void volumeMountFailed(const QString& label, const QString& reason);
    // Asks whether to close while an update runs; true when the user insists.
    bool confirmCloseDuringUpdate();
    // The window's Close button: closeClick(), after asking while an update runs.
    void closeButtonClicked();
    void setProgressLater(double value);
    // Shows `line` under the bar; posted only when its text would change.
    void setProgressLineLater(const ProgressLine& line);
    QString progressText(const ProgressLine& line) const;
    // The failure screen's words for a failure in `stage`: what failed and what to do.
    std::string stageFailureText(UpdateStage stage) const;
    // The window's words for a download of `ver` that failed (empty when cancelled).
    std::string downloadFailureText(const std::string& ver, const Download& failed) const;
    // The download numbered `id`; only the latest one may change the state.
    void runDownload(const Histoty& release, unsigned id);
    void finishDownload(const Histoty& release, unsigned id, Download firmware, Download image,
                        const std::string& failure);
    bool downloadCancelled(unsigned id) const { return cancelledDownload_.load() == id; }
    void takeBuiltInRelease();
    // A controller found in its bootloader with nothing chosen: the release
    // of an update a restart interrupted when one is kept, else the built-in one.
    void takeRecoveryRelease();
    // Keeps the release just sent for a restart (queue1).
    void keepPendingRelease();
    // Sends the final-step command: on success finalStep is set, else the
    // update has failed. Returns whether it was sent.
    bool sendFinalStep();
    // Applies one parsed reply of the identification exchange.
    void applyReply(const QByteArray& report);
    // The mount point of a volume notification when the volume is the
    // controller's bootloader volume, else empty.
    std::string bootloaderPath(const QVariant& userInfo) const;
    // Whether the drive at `path` looks like the controller's bootloader drive
    // (on USB, small, holding nothing but the bootloader's files). Any thread.
    DriveVerdict examineDrive(const std::string& path);
    // Says in the log and the window that the drive at `path` was left alone.
    void refuseDrive(const std::string& path, const DriveVerdict& verdict);
    void startFirmwareCopyOn(const std::string& volume, unsigned unmountsAtStart);
    // Writes FW.bin onto `volume`; fails when a bootloader volume was
    // unmounted since the job was started (`unmountsAtStart`).
    void copyFirmware(const std::string& volume, const std::optional<SentRelease>& release,
                      unsigned unmountsAtStart);

    const Platform& platform_;
    std::unique_ptr<Ui::ViewController> ui_;
    std::thread monitorThread_;
    Guarded<std::string> mountedBootloader_;
    // Last progress value posted to the bar, as shown (whole percent); -1 = none.
    std::atomic<int> shownProgress_{-1};
    // The one worker for the history query and the release downloads.
    std::unique_ptr<WorkQueue> downloads_;

    // Binds imageData, FWData and releaseVersion_ into one release.
    mutable std::mutex releaseLock_;
    std::string releaseVersion_;  // the version of imageData/FWData (releaseLock_)
    Guarded<std::optional<SentRelease>> sentRelease_;

    // The device record that completed the identification as model "T".
    Guarded<HIDDevicePtr> identifiedDevice_;
    // Counts attaches and detaches: a transfer fails when it changes.
    std::atomic<unsigned> attachEpoch_{0};
    std::atomic<bool> identifyTimedOut_{false};
    // Unmounts of bootloader volumes: a write checks that none happened
    // between the mount that started it and the end of the write.
    std::atomic<unsigned> unmounts_{0};

    // Set while the first reachability report or the history query is
    // outstanding; a press of the left button in that time waits for it.
    std::atomic<bool> awaitingHistory_{false};
    std::atomic<bool> pressedWhileChecking_{false};

    // The version the controller must report when it comes back after a
    // firmware write; empty when nothing is to be verified.
    Guarded<std::string> expectedVersion_;
    // Why the update failed, when the window has more to say than "Update Fail!".
    Guarded<std::string> failureNote_;
    // The stage the update is in, and so the one a failure happened in.
    std::atomic<UpdateStage> stage_{UpdateStage::none};
    // The line under the bar as last posted (packed: stage, percent, seconds).
    std::atomic<std::uint64_t> shownLine_{0};
    // The download that runs (numbered from 1) and the one cancelled last.
    std::atomic<bool> downloading_{false};
    std::atomic<unsigned> downloadSerial_{0};
    std::atomic<unsigned> cancelledDownload_{0};
    // What the window says about the download running or the last one failed.
    Guarded<std::string> downloadNote_;
    // The release the last download or update was for (support details).
    Guarded<std::string> attemptedRelease_;
    // Set when the HID monitor could not be created or stopped on its own.
    Guarded<std::string> monitorError_;
    std::atomic<bool> busWatchFailed_{false};
    std::atomic<bool> stoppingMonitor_{false};

    // Set from beginUpdateSession() until endUpdateSession().
    std::atomic<bool> sessionOpen_{false};
    std::atomic<bool> inhibitorComplained_{false};
    // Why the bootloader volume could not be mounted, while it matters.
    Guarded<std::string> volumeNote_;
    // The release kept across a restart until its firmware is written (none
    // without a folder for it), and what the window says while one is finished.
    std::unique_ptr<PendingReleaseStore> pending_;
    Guarded<std::string> resumeNote_;
    // Drives labelled like the bootloader's that are not the controller's, while
    // mounted: their unmount does not concern the update.
    Guarded<std::set<std::string>> foreignDrives_;
    // The window's words for the drive refused last, until it is unmounted.
    struct ForeignDriveNote {
        std::string path;
        std::string text;
    };
    Guarded<ForeignDriveNote> foreignDriveNote_;
    // The bus a volume watcher named for each mounted bootloader path.
    Guarded<std::map<std::string, std::string>> driveBuses_;
};

}  // namespace tarvo
