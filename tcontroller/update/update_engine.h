#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVariant>
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
#include "tcontroller/base/result.h"
#include "tcontroller/base/util.h"
#include "tcontroller/catalogue/builtin_files.h"
#include "tcontroller/device/controller_link.h"
#include "tcontroller/device/identity.h"
#include "tcontroller/platform/bootloader_drive.h"
#include "tcontroller/platform/platform.h"
#include "tcontroller/platform/work_queue.h"
#include "tcontroller/update/pending_release.h"
#include "tcontroller/update/update_progress.h"
#include "tcontroller/update/update_snapshot.h"

namespace tarvo {

// The platform's HID monitor of the controller (its vendor and product, its
// report size); null where the platform has none to give.
std::unique_ptr<HidMonitor> makeControllerMonitor(const Platform& platform);

// The firmware update of the one attached controller, with no user interface:
// it finds and identifies the controller, learns the published releases,
// prepares a release (newest, built-in, chosen or local files), erases the
// controller and sends the image, sends the final step, writes the firmware
// onto the controller's drive and verifies the version it comes back with.
// A front end calls its commands and shows snapshot() whenever changed() is
// emitted; every step logs the same lines whoever drives it.
//
// Threads: the engine lives on the main thread, where its commands are called
// and its signals are delivered. The HID handlers run on the monitor's thread,
// the volume handlers on the watcher's thread, the image transfer on queue1,
// the firmware copy on queue2 and the watchdog on queue3; the history query
// and the downloads on one worker of their own. Small fields are atomics;
// strings, buffers and records are Guarded.
class UpdateEngine : public QObject {
    Q_OBJECT

  public:
    using UpSta = Util::UpSta;
    using UpMode = Util::UpMode;
    using ReadSta = Util::ReadSta;
    using Histoty = Util::Histoty;

    explicit UpdateEngine(const Platform& platform, QObject* parent = nullptr);
    ~UpdateEngine() override;

    // Starts watching the USB bus, the network and the volumes (main thread).
    void start();

    // ---- What the front ends read.
    // The state as it is now; any thread.
    UpdateSnapshot snapshot() const;
    const Platform& platform() const { return platform_; }
    BuiltinResources resources() const;
    // True when the attached controller answered the identification as the
    // supported model with its firmware version: only then may it be erased.
    bool controllerIdentified() const;
    // True from the erase until the update ends, while the final step is awaited too.
    bool updateRunning() const;
    // True while a release's files are on their way.
    bool downloading() const { return downloading_.load(); }
    // True until the first network report and the release list it brings are in.
    bool awaitingHistory() const { return awaitingHistory_.load(); }
    // What support needs about a failure: the versions of the tool, the
    // controller and the release, the status, and the log's latest lines.
    std::string supportDetails() const;
    // The words of the line under the progress bar, in the user's language.
    static QString progressText(const ProgressLine& line);

    // ---- Commands (main thread unless said otherwise).
    // Prepares the newest release known (downloading a published one), or,
    // when one is prepared, starts it: what the left button does.
    void updateToNewest();
    // Prepares the release built into the tool (when it is newer than the
    // controller's firmware, as the left button would offer it).
    void updateToBuiltIn();
    // Starts the prepared update; nothing when none is prepared.
    void confirm();
    // How a request for an earlier release goes on.
    enum class EarlierChoice { busy, cancelled, needsNetwork, choose };
    // Drops a prepared update (cancelled); otherwise says whether the
    // published releases can be offered (choose) or a network is needed first.
    EarlierChoice chooseEarlier();
    // Downloads `release` and prepares it. Blocks: call it off the main thread.
    Result<void> updateTo(const Histoty& release);
    // Reads a pair of local files and prepares them as `version`. Blocks.
    Result<void> updateFromFiles(const std::string& imagePath, const std::string& firmwarePath,
                                 const std::string& version);
    // Stops the download that runs and puts the state back as it was.
    void cancelDownload();
    // The failure was read: the final step is sent again when the image was
    // sent, else the state goes back to idle.
    void acknowledgeFailure();
    // "Update complete!" was read.
    void acknowledgeSuccess();
    // The user answered the replug alert.
    void alerted();
    // Sends the final-step command: on success finalStep is set, else the
    // update has failed. Returns whether it was sent. Any thread.
    bool resendFinalStep() { return sendFinalStep(); }
    // Takes a release as the one to install: where it comes from, its version
    // and both files, set together so that an image is never paired with
    // another release's firmware. Every source (built-in, download, chooser,
    // local files) goes through here. Any thread.
    void takeRelease(UpMode source, const Histoty& record, std::optional<Bytes> image,
                     std::optional<Bytes> firmware);
    // Gives the sleep inhibitor back before the process ends.
    void prepareExit();
    // Tells whether the user is looking at the tool: the desktop is told an
    // update's end only when not.
    void setUserWatching(std::function<bool()> watching) { userWatching_ = std::move(watching); }

    // ---- Events of the platform (public so tests can feed them).
    bool sendReport(const Bytes& frame, bool expectReply);
    void hidConnectedWithNotification(const HIDDevicePtr& device);
    void hidDisconnectedWithNotification(const HIDDevicePtr& device);
    // A report of `device`; one from any device but the attached one (the
    // record of the latest connect) is not the controller's answer and is
    // dropped.
    void hidReadDataWithNotification(const HIDDevicePtr& device, const QByteArray& report);
    void reachabilityChangedWithNote(Reachability* note);
    void didMount(const QVariant& userInfo);
    void didUnMount(const QVariant& userInfo);

    // Tells the front ends that the state changed; any thread (posted to the
    // main thread). The engine's own bookkeeping of a shown state runs here.
    void publish();

  signals:
    // The state changed: read snapshot() (main thread).
    void changed();
    // The bar's value in whole percent changed (main thread).
    void progressChanged(int percent);
    // The line under the bar changed (main thread).
    void progressLineChanged(tarvo::ProgressLine line);

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

    void publishBody();
    // Runs `job` on the main thread: now when called there, else posted
    // (and dropped when the engine is gone by then).
    void onMainThread(std::function<void(UpdateEngine&)> job);
    void startDeviceMonitor();
    void busNotWatched(const std::string& reason);
    void watchVolumes();
    void queryHistory();
    void historySettled();
    // The left button's press: prepares the newest release or starts the prepared one.
    void press();
    void startPreparedUpdate();
    void runTransfer();
    void sendImage(const Bytes& image);
    void imageUpdateDone(const Result<void>& sent);
    bool stillAttached(const TransferTarget& target) const;
    std::string newestKnownVersion() const;
    void watchIdentification(unsigned epoch);
    void applyReply(const QByteArray& report);
    void verifyUpdate(const std::string& reported);
    bool sendReportTo(const HIDDevicePtr& device, const Bytes& frame, bool expectReply);
    // The protocol steps on the controller attached now.
    ControllerLink linkToAttached();
    bool sendFinalStep();
    void startWatchdog();
    void checkFinalStep();
    void beginUpdateSession();
    void endUpdateSession(bool success, const std::string& detail);
    void volumeMountFailed(const QString& label, const QString& reason);
    void setProgressLater(double value);
    void setProgressLineLater(const ProgressLine& line);
    // A failed stage in words: its name, what happened, and what to do next in
    // the window (empty where nothing is to be done there).
    struct StageFailure {
        QString name;
        QString cause;
        QString next;
    };
    StageFailure stageFailure(UpdateStage stage) const;
    // The window's text of a failure: the step, what happened, what to do.
    static std::string failureText(const StageFailure& failure);
    std::string downloadFailureText(const std::string& ver, const Download& failed) const;
    void runDownload(const Histoty& release, unsigned id);
    void finishDownload(const Histoty& release, unsigned id, Download firmware, Download image,
                        const std::string& failure);
    bool downloadCancelled(unsigned id) const { return cancelledDownload_.load() == id; }
    void takeBuiltInRelease();
    void takeRecoveryRelease();
    void keepPendingRelease();
    void volumeMounted();
    void startFirmwareCopy();
    void startFirmwareCopyOn(const std::string& volume, unsigned unmountsAtStart);
    void copyFirmware(const std::string& volume, const std::optional<SentRelease>& release,
                      unsigned unmountsAtStart);
    void firmwareUpdateFinished(const Result<void>& written);
    void reportFirmwareResult(const Result<void>& written);
    std::string bootloaderPath(const QVariant& userInfo) const;
    DriveVerdict examineDrive(const std::string& path);
    void refuseDrive(const std::string& path, const DriveVerdict& verdict);
    // Sets the release shown for confirmation together with the mode.
    void choose(UpMode mode, const Histoty& release);

    const Platform& platform_;
    const std::string FW_VER = kBuiltinVersion;
    const std::string FW_DATE = kBuiltinDate;
    const std::string MODEL_NAME = identity::kModelCode;
    const std::string historyURL;

    // ---- Work queues.
    std::unique_ptr<WorkQueue> queue1;  // image transfer
    std::unique_ptr<WorkQueue> queue2;  // firmware copy
    std::unique_ptr<WorkQueue> queue3;  // watchdog
    // The one worker for the history query and the release downloads.
    std::unique_ptr<WorkQueue> downloads_;
    std::mutex lock;   // serialises the bookkeeping of a published state
    std::mutex lock2;  // serialises device and volume events

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
    // Every controller on the bus, the one updated (hidDeviceInfo) among
    // them; under lock2.
    std::vector<HIDDevicePtr> attachedDevices_;
    std::atomic<int> attachedCount_{0};
    // Takes `device` as the controller to identify and update (lock2 held).
    void takeDevice(const HIDDevicePtr& device);
    // The port of the controller an update began on (empty: unknown).
    Guarded<std::string> updatingPort_;
    // The image was sent or its firmware written, and the controller has not
    // yet come back to be verified.
    bool imageOrFirmwareSent() const {
        return imageUpdated.load() || !expectedVersion_.get().empty();
    }
    std::atomic<bool> usbMount{false};
    std::atomic<bool> imageUpdated{false};
    std::atomic<bool> finalStep{false};
    // The image is held once: a transfer shares it instead of copying it.
    Guarded<std::shared_ptr<const Bytes>> imageData;
    Guarded<std::optional<Bytes>> FWData;
    std::atomic<bool> flag{false};
    std::unique_ptr<HidMonitor> rfDeviceMonitor;

    std::thread monitorThread_;
    Guarded<std::string> mountedBootloader_;
    // Last progress value posted to the bar, as shown (whole percent); -1 = none.
    std::atomic<int> shownProgress_{-1};
    // The line under the bar as last posted (packed: stage, percent, seconds).
    std::atomic<std::uint64_t> shownLine_{0};

    // Binds imageData, FWData and releaseVersion_ into one release.
    mutable std::mutex releaseLock_;
    std::string releaseVersion_;  // the version of imageData/FWData (releaseLock_)
    Guarded<std::optional<SentRelease>> sentRelease_;
    // The release a prepared update installs (shown while a mode is chosen).
    Guarded<Histoty> chosen_;

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
    Guarded<std::string> verifiedVersion_;
    // Why the update failed, when there is more to say than "Update Fail!".
    Guarded<std::string> failureNote_;
    // The stage the update is in, and so the one a failure happened in.
    std::atomic<UpdateStage> stage_{UpdateStage::none};
    // The download that runs (numbered from 1) and the one cancelled last.
    std::atomic<bool> downloading_{false};
    std::atomic<unsigned> downloadSerial_{0};
    std::atomic<unsigned> cancelledDownload_{0};
    // What is said about the download running or the last one failed.
    Guarded<std::string> downloadNote_;
    // The release the last download or update was for (support details).
    Guarded<std::string> attemptedRelease_;
    // Set when the HID monitor could not be created or stopped on its own.
    Guarded<std::string> monitorError_;
    std::atomic<bool> busWatchFailed_{false};
    std::atomic<bool> stoppingMonitor_{false};
    std::atomic<bool> started_{false};

    // Set from beginUpdateSession() until endUpdateSession().
    std::atomic<bool> sessionOpen_{false};
    std::atomic<bool> inhibitorComplained_{false};
    std::function<bool()> userWatching_;
    // Why the bootloader volume could not be mounted, while it matters.
    Guarded<std::string> volumeNote_;
    // The release kept across a restart until its firmware is written (none
    // without a folder for it), and what is said while one is finished.
    std::unique_ptr<PendingReleaseStore> pending_;
    Guarded<std::string> resumeNote_;
    // Drives labelled like the bootloader's that are not the controller's, while
    // mounted: their unmount does not concern the update.
    Guarded<std::set<std::string>> foreignDrives_;
    // The words for the drive refused last, until it is unmounted.
    struct ForeignDriveNote {
        std::string path;
        std::string text;
    };
    Guarded<ForeignDriveNote> foreignDriveNote_;
    // The bus a volume watcher named for each mounted bootloader path.
    Guarded<std::map<std::string, std::string>> driveBuses_;
    // The replug alert is up, and "Update complete!" waits to be read (main thread).
    std::atomic<bool> replugAlert_{false};
    std::atomic<bool> complete_{false};
};

// The file:// address of a local path, percent-encoded so that any name (a
// space, '#', '?', non-ASCII letters) reads back as the same file.
std::string localFileAddress(const std::string& path);

}  // namespace tarvo

Q_DECLARE_METATYPE(tarvo::ProgressLine)
