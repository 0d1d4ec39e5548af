#include "tcontroller/cli/station_runner.h"

#include <QDateTime>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <cstdio>
#include <fstream>

#include "tcontroller/base/log.h"
#include "tcontroller/catalogue/builtin_files.h"
#include "tcontroller/station/station_report.h"
#include "tcontroller/update/update_engine.h"

namespace tarvo {
namespace {

using State = StationRow::State;

constexpr int kExitInterrupted = 130;
constexpr qint64 kSecondInterruptMs = 5000;

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

QJsonValue orNull(const std::string& text) {
    return text.empty() ? QJsonValue() : QJsonValue(qs(text));
}

// A controller has said what it is (or cannot).
bool settled(const Station& station, const StationRow& row) {
    if (!row.attached) {
        return true;
    }
    const UpdateEngine* engine = station.engine(row.port);
    if (engine == nullptr) {
        return false;
    }
    const UpdateSnapshot s = engine->snapshot();
    return !engine->awaitingHistory() &&
           (s.identified || !s.otherModel.empty() || s.identifyTimedOut);
}

}  // namespace

StationRunner::StationRunner(Station& station, CliOptions options, CommandRunner::Io io,
                             Limits limits)
    : station_(station), options_(std::move(options)), io_(std::move(io)), limits_(limits) {
    connect(&station_, &Station::rowsChanged, this, &StationRunner::showProgress);
    connect(&station_, &Station::finished, this, &StationRunner::report);
}

int StationRunner::runWithCtrlC() {
    return runWithInterrupts(
        this, [this] { return run(); }, [this] { interrupt(); });
}

int StationRunner::run() {
    station_.start();
    if (options_.command == CliOptions::Command::station) {
        return runStation();
    }
    settle();
    if (interrupted_) {
        return *interrupted_;
    }
    return updateAll();
}

bool StationRunner::waitUntil(const std::function<bool()>& done, double seconds) {
    return waitForChange(station_, &Station::rowsChanged, done, interrupted_, seconds);
}

void StationRunner::settle() {
    // A hub reports its controllers one after another: the wait for more
    // starts again with each one that appears.
    QElapsedTimer quiet;
    quiet.start();
    std::size_t seen = 0;
    waitUntil(
        [&] {
            const std::vector<StationRow> rows = station_.rows();
            if (rows.size() != seen) {
                seen = rows.size();
                quiet.restart();
            }
            if (quiet.elapsed() < static_cast<qint64>(limits_.noController * 1000)) {
                return false;
            }
            return std::all_of(rows.begin(), rows.end(),
                               [&](const StationRow& row) { return settled(station_, row); });
        },
        limits_.settle);
}

bool StationRunner::confirmed(const std::vector<StationRow>& rows, const std::string& to) {
    if (options_.yes) {
        return true;
    }
    if (!io_.stdinTerminal || !io_.readAnswer) {
        say("Refusing to install without a question answered: run with --yes to install "
            "without asking. Nothing was sent to the controllers.");
        return false;
    }
    std::string which;
    for (const StationRow& row : rows) {
        which += (which.empty() ? "" : ", ") + row.port + " on " + row.before;
    }
    io_.tell("Install firmware " + (to.empty() ? std::string("(the newest)") : to) + " on " +
             std::to_string(rows.size()) + " controllers (" + which + ")? [y/N] ");
    const std::optional<std::string> answer = io_.readAnswer();
    return answer && (*answer == "y" || *answer == "Y" || *answer == "yes");
}

int StationRunner::updateAll() {
    std::vector<StationRow> candidates;
    for (const StationRow& row : station_.rows()) {
        if (row.attached && row.supported) {
            candidates.push_back(row);
        } else if (row.attached) {
            say(row.port + ": not updated (" +
                (row.model.empty() ? std::string("it does not answer")
                                   : "model \"" + escapeForLog(row.model) + "\"") +
                ").");
        }
    }
    if (candidates.empty()) {
        say("No Tarvo Remote is attached. Plug them in and run the command again.");
        return kExitNothingToDo;
    }
    const std::string to = options_.builtin ? std::string(kBuiltinVersion) : options_.to;
    if (!confirmed(candidates, to)) {
        return interrupted_ ? *interrupted_ : kExitFailed;
    }
    const int asked = station_.updateAll(to);
    if (asked == 0) {
        say("Nothing to install: every controller runs that firmware or a newer one.");
        return kExitNothingToDo;
    }
    const bool ended = waitUntil([&] { return !station_.busy(); }, limits_.update);
    if (interrupted_) {
        return *interrupted_;
    }
    if (!ended) {
        say("Timed out waiting for the updates to end.");
        return kExitTimedOut;
    }
    say(std::to_string(verified_) + " of " + std::to_string(asked) + " controllers verified" +
        (failed_ > 0 ? ", " + std::to_string(failed_) + " failed." : "."));
    return failed_ == 0 && verified_ == asked ? kExitInstalled : kExitFailed;
}

int StationRunner::runStation() {
    if (!options_.report.empty()) {
        // The header once, for a new file.
        std::ifstream existing(options_.report);
        if (!existing.good() || existing.peek() == std::ifstream::traits_type::eof()) {
            std::ofstream out(options_.report, std::ios::app | std::ios::binary);
            out << stationReportHeader();
            if (!out) {
                say("Cannot write the report " + options_.report + ".");
                return kExitFailed;
            }
        }
    }
    say("Updating each controller as it is plugged in; Ctrl-C stops.");
    station_.setUpdateOnPlug(true, options_.builtin ? std::string(kBuiltinVersion) : options_.to);
    waitUntil([] { return false; }, 365.0 * 24 * 3600);
    say(std::to_string(verified_) + " verified, " + std::to_string(failed_) + " failed.");
    if (reportFailed_) {
        return kExitFailed;
    }
    return interrupted_ ? *interrupted_ : kExitInstalled;
}

void StationRunner::showProgress() {
    for (const StationRow& row : station_.rows()) {
        if (row.state != State::updating || row.stage == UpdateStage::none) {
            continue;
        }
        UpdateStage& shown = shownStage_[row.port];
        if (shown == row.stage) {
            continue;
        }
        shown = row.stage;
        const std::string text =
            UpdateEngine::progressText({row.stage, row.percent, row.secondsLeft}).toStdString();
        if (options_.json) {
            emitJson(QJsonObject{{"event", "stage"},
                                 {"port", qs(row.port)},
                                 {"stage", stageName(row.stage)},
                                 {"text", qs(text)}});
        } else {
            io_.tell(row.port + ": " + text + "\n");
        }
    }
}

void StationRunner::report(const StationRow& row) {
    const bool verified = row.state == State::verified;
    (verified ? verified_ : failed_) += 1;
    shownStage_.erase(row.port);
    if (options_.json) {
        QJsonObject result;
        result["event"] = "result";
        result["port"] = qs(row.port);
        result["from"] = orNull(row.before);
        result["to"] = orNull(verified ? row.after : row.target);
        result["verified"] = verified;
        result["failed_step"] = orNull(verified ? std::string() : row.failedStep);
        result["reason"] = orNull(verified ? std::string() : row.reason);
        result["seconds"] = row.seconds;
        emitJson(result);
    } else {
        say(row.port + ": " +
            (verified ? "verified " + row.after
                      : "failed (" + row.failedStep + "): " + row.reason));
    }
    if (!options_.report.empty()) {
        std::ofstream out(options_.report, std::ios::app | std::ios::binary);
        out << stationReportLine(
            row, QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toStdString());
        if (!out && !reportFailed_) {
            reportFailed_ = true;
            say("Cannot write the report " + options_.report + ".");
        }
    }
}

void StationRunner::emitJson(const QJsonObject& object) {
    const std::string line = QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
    if (io_.print) {
        io_.print(line);
    } else {
        printLine(line);
    }
}

void StationRunner::say(const std::string& text) {
    io_.tell(text + "\n");
}

void StationRunner::interrupt() {
    if (!station_.anyPastErase()) {
        say("Stopped; no controller was left half-updated.");
        interrupted_ = kExitInterrupted;
        return;
    }
    if (firstInterrupt_ && firstInterrupt_->elapsed() < kSecondInterruptMs) {
        say("Stopped. The controllers being updated are left as they are: run the tool again "
            "with them attached to finish their updates.");
        interrupted_ = kExitInterrupted;
        return;
    }
    firstInterrupt_.emplace();
    firstInterrupt_->start();
    say("Controllers are being updated: stopping now leaves them without firmware until the "
        "update is run again. Press Ctrl-C again within 5 seconds to stop anyway.");
}

}  // namespace tarvo
