#pragma once

#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonObject>
#include <QObject>
#include <QTimer>
#include <functional>
#include <optional>
#include <string>

#include "tcontroller/cli/cli_options.h"
#include "tcontroller/update/update_engine.h"

namespace tarvo {

// The command line's front end on the update engine: `status`, `releases` and
// `update`, in text or JSON, with the same steps and log lines as the window.
// Its answers go to standard output in order with the log (printLine); what
// only a person reads (questions, the progress line, instructions) goes to
// the error stream. Main thread.
class CommandRunner : public QObject {
    Q_OBJECT

  public:
    // What the runner needs of its terminal.
    struct Io {
        bool stdinTerminal = false;
        bool stderrTerminal = false;
        // One line typed by the user (without its newline); none at end of input.
        std::function<std::optional<std::string>()> readAnswer;
        // Writes text for a person (standard error).
        std::function<void(const std::string&)> tell;
        // Writes one line of the command's answer; unset: standard output, in
        // order with the log (printLine).
        std::function<void(const std::string&)> print;

        // The process's own terminal: standard input, standard error.
        static Io terminal();
    };
    // How long the runner waits, in real seconds.
    struct Limits {
        double settle = 10.0;     // identification and the release list
        double noController = 2;  // for a controller to appear at start
        double update = 900.0;    // the whole update, the final-step wait included
    };

    CommandRunner(UpdateEngine& engine, CliOptions options, Io io, Limits limits);

    // Starts the engine, runs the command and returns its exit status.
    int run();
    // run(), with Ctrl-C (SIGINT) taken as interrupt() meanwhile.
    int runWithCtrlC();
    // Ctrl-C: cancels before the erase; during an update it says what
    // stopping would do and stops at a second press within 5 s.
    void interrupt();

  private:
    int status();
    int releases();
    int update();
    // Waits until the controller and the release list are known.
    void settle();
    // Runs the event loop until `done` or `seconds` passed; false on timeout
    // (or an interrupt that ends the run).
    bool waitUntil(const std::function<bool()>& done, double seconds);
    // Prepares the release the options name; its version, or the exit status.
    std::optional<int> prepare(const UpdateSnapshot& before);
    int follow(const std::string& from, const std::string& to);
    bool confirmed(const std::string& from, const std::string& to);
    int finish(int status, const std::string& from, const std::string& to, bool verified,
               const std::string& failedStep, const std::string& reason);
    void showProgressLine(const ProgressLine& line);
    void showPercent(int percent);
    void emitJson(const QJsonObject& object);
    void answer(const std::string& line);
    void say(const std::string& text);

    UpdateEngine& engine_;
    CliOptions options_;
    Io io_;
    Limits limits_;
    QElapsedTimer started_;
    UpdateStage shownStage_ = UpdateStage::none;
    bool instructed_ = false;
    bool progressLineOpen_ = false;
    // Set when an interrupt ends the run; the exit status it ends with.
    std::optional<int> interrupted_;
    std::optional<QElapsedTimer> firstInterrupt_;
};

// Runs `run` (which runs an event loop) with Ctrl-C (SIGINT) calling
// `interrupted` on the main thread meanwhile; returns what `run` returns.
int runWithInterrupts(QObject* context, const std::function<int()>& run,
                      const std::function<void()>& interrupted);

// Runs the event loop until `done` holds, `interrupted` is set or `seconds`
// pass. `done` is asked whenever `sender` emits `changed`, and every 50 ms
// besides. True when `done` holds and nothing interrupted the wait.
template <typename Sender, typename Signal>
bool waitForChange(const Sender& sender, Signal changed, const std::function<bool()>& done,
                   const std::optional<int>& interrupted, double seconds) {
    if (done()) {
        return true;
    }
    QEventLoop loop;
    QElapsedTimer elapsed;
    elapsed.start();
    const auto check = [&] {
        if (interrupted || done() || elapsed.elapsed() >= static_cast<qint64>(seconds * 1000)) {
            loop.quit();
        }
    };
    QTimer tick;
    tick.setInterval(50);
    QObject::connect(&tick, &QTimer::timeout, &loop, check);
    QObject::connect(&sender, changed, &loop, check);
    tick.start();
    loop.exec();
    return !interrupted && done();
}

}  // namespace tarvo
