#pragma once

#include <QObject>
#include <QTimer>
#include <atomic>
#include <mutex>
#include <string>

#include "sim/demo/demo_options.h"
#include "sim/demo/screenshots.h"
#include "tcontroller/update/update_snapshot.h"

class QAbstractButton;
class QLabel;
class QMessageBox;
class QProgressBar;

namespace tarvo {
class AlertViewController;
class ViewController;
namespace sim {
class SimulatedPlatform;
}
}  // namespace tarvo

namespace tarvo::demo {

// Watches the window from a timer on the main thread, like a person looking at
// it: takes a screenshot at each step a user would notice and, with --auto,
// presses the buttons a user would press for one update, and replugs the
// controller when the tool's alert asks for it. Decides the exit status of an
// automatic run from what the window, the tool's state (its engine's
// snapshot), the log and the virtual controller show; success is the tool's
// own verification of the installed release.
class DemoDriver : public QObject {
    Q_OBJECT
  public:
    DemoDriver(sim::SimulatedPlatform& sim, ViewController& window, const DemoOptions& options);
    ~DemoDriver() override;

    void start();
    // The status the run ended with (meaningful once the event loop returned).
    int exitCode() const { return exitCode_; }
    // With --restart-after: the event loop returned because the tool is to be
    // closed and started again; a driver for the new window goes on with
    // resume(), installing the same version.
    bool restartRequested() const { return restartRequested_; }
    const std::string& target() const { return target_; }
    void resume(const std::string& target);

  private:
    static constexpr int kPollMs = 20;
    // Ticks a condition must hold before the driver acts on it (100 ms).
    static constexpr int kSettleTicks = 5;
    // Ticks the driver waits for the tool's verdict once the controller is
    // back, for the failure window after a failed verification, and for an
    // update to go on when the window has fallen back to its offer (1 s).
    static constexpr int kVerdictTicks = 50;

    enum class Stage { waitIdle, choose, confirm, updating, backOnHid, done };
    // Answering the update-in-progress alert: replug, then press its button.
    enum class AlertStep { none, replugging, pressed };

    // A condition must hold for a few ticks in a row before the driver acts
    // on it, so every queued redraw has landed (and the screenshots show a
    // settled window).
    class Steady {
      public:
        bool holds(bool condition, int ticks = kSettleTicks);
        void reset() { ticks_ = 0; }

      private:
        int ticks_ = 0;
    };

    void tick();
    // True when the tool is to be closed now (--restart-after); leaves the loop.
    bool restartNow();
    void observe();
    void drive();
    void driveIdle(bool autoRun);
    void driveConfirm(bool autoRun);
    // --choose: the row of the version chooser, then what the window does with it.
    void driveChooser();
    // Each returns true when it acted on what it watches (the run may have ended).
    bool actOnRefusal();
    bool actOnFailure();
    bool answerAlert();
    void judgeResult();
    void finish(int code, const std::string& why);
    void timedOut();
    bool networkSettled() const;
    bool identified() const;
    bool idleWindow() const;
    bool offerShown() const;
    bool confirmationShown() const;
    bool backOnHid() const;
    bool backWithTarget() const;
    bool backToOffer() const;
    bool alertShown() const;
    QMessageBox* completionDialog() const;
    void say(const std::string& line) const;
    // What the tool knows now: its engine's snapshot.
    UpdateSnapshot state() const;

    sim::SimulatedPlatform& sim_;
    ViewController& window_;
    // The window's parts the driver looks at and presses, found by their
    // object names as a user's tool (an accessibility reader) would find them.
    QLabel* const msgLabel_;
    QLabel* const fwLabel_;
    QProgressBar* const progress_;
    QAbstractButton* const leftBut_;
    QAbstractButton* const rightBut_;
    QAbstractButton* const failedOKBut_;
    AlertViewController* const alert_;
    const DemoOptions options_;
    Screenshots shots_;
    QTimer poll_;
    Stage stage_ = Stage::waitIdle;
    Steady idle_;
    Steady confirm_;
    Steady back_;
    Steady failure_;
    Steady downloadFailure_;
    Steady refusal_;
    Steady chooser_;
    bool chosen_ = false;  // the chooser's OK was pressed
    Steady replugged_;
    Steady stalled_;
    int ticksWithoutVerdict_ = 0;
    AlertStep alertStep_ = AlertStep::none;
    int alertsAnswered_ = 0;
    bool completionSeen_ = false;
    bool finished_ = false;
    int exitCode_ = kExitUpdated;
    std::string target_;  // the version being installed
    bool restartRequested_ = false;
    bool restarted_ = false;  // this driver watches the tool started again

    // Set by the log tap, which runs on whichever thread logs.
    std::atomic<bool> networkDown_{false};
    std::atomic<bool> historyFailed_{false};
    std::atomic<bool> downloadFailed_{false};
    std::atomic<bool> erasing_{false};
    std::atomic<bool> imageBegun_{false};
    std::atomic<bool> imageSent_{false};
    mutable std::mutex tapMutex_;
    std::string refusalLine_;  // the tool refused the controller
    std::string verdictLine_;  // the tool's verification of the installed release
    bool verified_ = false;    // of verdictLine_
};

}  // namespace tarvo::demo
