#pragma once

#include <QObject>
#include <QTimer>
#include <atomic>
#include <mutex>
#include <set>
#include <string>

#include "sim/demo/demo_options.h"

class QMessageBox;
class QPixmap;
class QWidget;

namespace tarvo {
class ViewController;
namespace sim {
class SimulatedPlatform;
}
}  // namespace tarvo

namespace tarvo::demo {

// Saves numbered pictures of the window: 01-idle.png, 02-confirm.png, ... Each
// step has a fixed number, so a picture keeps its name from run to run (a step
// that did not happen leaves a gap). Each step is taken once per run.
class Screenshots {
  public:
    // An empty folder turns screenshots off. Earlier numbered pictures in the
    // folder are removed, so a run never mixes with the one before it.
    explicit Screenshots(std::string dir);
    bool enabled() const { return !dir_.empty(); }
    // Grabs `widget` as `NN-name.png` unless `name` was taken already; NN is
    // the step's place in an update (see stepNumber).
    void take(const std::string& name, QWidget* widget);
    // Grabs `dialog` drawn over the middle of `window`, as the user sees it.
    void takeOver(const std::string& name, QWidget* window, QWidget* dialog);
    bool taken(const std::string& name) const { return names_.count(name) != 0; }
    // idle 1, confirm 2, erasing 3, sending-image 4, alert 5,
    // update-complete 6, done 7, failed 8; anything else 99.
    static int stepNumber(const std::string& name);

  private:
    void save(const std::string& name, const QPixmap& picture);

    std::string dir_;
    std::set<std::string> names_;
};

// Watches the window from a timer on the main thread, like a person looking at
// it: takes a screenshot at each step a user would notice and, with --auto,
// presses the buttons a user would press for one update, and replugs the
// controller when the tool's alert asks for it. Decides the exit status of an
// automatic run from what the window, the log and the virtual controller show;
// success is the tool's own verification of the installed release.
class DemoDriver : public QObject {
    Q_OBJECT
  public:
    DemoDriver(sim::SimulatedPlatform& sim, ViewController& window, const DemoOptions& options);
    ~DemoDriver() override;

    void start();
    // The status the run ended with (meaningful once the event loop returned).
    int exitCode() const { return exitCode_; }

  private:
    static constexpr int kPollMs = 20;
    // Ticks a condition must hold before the driver acts on it (100 ms).
    static constexpr int kSettleTicks = 5;
    // Ticks the driver waits for the tool's verdict once the controller is
    // back, for the failure window after a failed verification, and for an
    // update to go on when the window has fallen back to its offer (1 s).
    static constexpr int kVerdictTicks = 50;

    enum class Stage { waitIdle, confirm, updating, backOnHid, done };
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
    void observe();
    void drive();
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
    QMessageBox* completionDialog() const;
    void say(const std::string& line) const;

    sim::SimulatedPlatform& sim_;
    ViewController& window_;
    const DemoOptions options_;
    Screenshots shots_;
    QTimer poll_;
    Stage stage_ = Stage::waitIdle;
    Steady idle_;
    Steady confirm_;
    Steady back_;
    Steady failure_;
    Steady refusal_;
    Steady replugged_;
    Steady stalled_;
    int ticksWithoutVerdict_ = 0;
    AlertStep alertStep_ = AlertStep::none;
    int alertsAnswered_ = 0;
    bool completionSeen_ = false;
    bool finished_ = false;
    int exitCode_ = kExitUpdated;
    std::string target_;  // the version being installed

    // Set by the log tap, which runs on whichever thread logs.
    std::atomic<bool> networkDown_{false};
    std::atomic<bool> historyFailed_{false};
    std::atomic<bool> downloadFailed_{false};
    std::atomic<bool> erasing_{false};
    std::atomic<bool> imageBegun_{false};
    mutable std::mutex tapMutex_;
    std::string refusalLine_;  // the tool refused the controller
    std::string verdictLine_;  // the tool's verification of the installed release
    bool verified_ = false;    // of verdictLine_
};

}  // namespace tarvo::demo
