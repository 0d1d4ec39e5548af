#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "tcontroller/cli/cli_options.h"
#include "tcontroller/cli/command_runner.h"
#include "tcontroller/station/station.h"

namespace tarvo {

// The command line's front end on a station: `update --all` (every attached
// controller, a result for each) and `station` (each controller as it is
// plugged in, until Ctrl-C, with a CSV report). Text or JSON lines; every
// event names the controller's port. Main thread.
class StationRunner : public QObject {
    Q_OBJECT

  public:
    struct Limits {
        double settle = 10.0;     // identification and the release list
        double noController = 2;  // quiet after the last controller appeared, at start
        double update = 1800.0;   // all the updates of `update --all`
    };

    StationRunner(Station& station, CliOptions options, CommandRunner::Io io, Limits limits);

    // Starts the station, runs the command and returns its exit status.
    int run();
    // run(), with Ctrl-C taken as interrupt() meanwhile.
    int runWithCtrlC();
    // Ctrl-C: stops at once while no update is past its erase; else says
    // what stopping would leave and stops at a second press within 5 s.
    void interrupt();

  private:
    int updateAll();
    int runStation();
    void settle();
    bool waitUntil(const std::function<bool()>& done, double seconds);
    bool confirmed(const std::vector<StationRow>& rows, const std::string& to);
    void showProgress();
    void report(const StationRow& row);
    void emitJson(const QJsonObject& object);
    void say(const std::string& text);

    Station& station_;
    CliOptions options_;
    CommandRunner::Io io_;
    Limits limits_;
    std::map<std::string, UpdateStage> shownStage_;
    int verified_ = 0;
    int failed_ = 0;
    bool reportFailed_ = false;
    std::optional<int> interrupted_;
    std::optional<QElapsedTimer> firstInterrupt_;
};

}  // namespace tarvo
