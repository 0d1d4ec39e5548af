#include "tcontroller/cli/command_runner.h"

#include <unistd.h>
#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <iostream>
#include <memory>
#include <thread>

#include "tcontroller/base/log.h"
#include "tcontroller/catalogue/builtin_files.h"
#include "tcontroller/catalogue/firmware_names.h"
#include "tcontroller/catalogue/version.h"

namespace tarvo {
namespace {

constexpr int kExitInterrupted = 130;
// A second Ctrl-C within this many seconds stops a running update.
constexpr qint64 kSecondInterruptMs = 5000;

// Ctrl-C reaches the event loop through a pipe: a signal handler may only write.
int interruptPipe[2] = {-1, -1};

void onInterrupt(int /*signal*/) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(interruptPipe[1], &byte, 1);
}

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

QJsonValue orNull(const std::string& text) {
    return text.empty() ? QJsonValue() : QJsonValue(qs(text));
}

}  // namespace

CommandRunner::CommandRunner(UpdateEngine& engine, CliOptions options, Io io, Limits limits)
    : engine_(engine), options_(std::move(options)), io_(std::move(io)), limits_(limits) {
    connect(&engine_, &UpdateEngine::progressLineChanged, this, &CommandRunner::showProgressLine);
    connect(&engine_, &UpdateEngine::progressChanged, this, &CommandRunner::showPercent);
}

CommandRunner::Io CommandRunner::Io::terminal() {
    Io io;
    io.stdinTerminal = ::isatty(STDIN_FILENO) != 0;
    io.stderrTerminal = ::isatty(STDERR_FILENO) != 0;
    io.readAnswer = []() -> std::optional<std::string> {
        std::string line;
        if (!std::getline(std::cin, line)) {
            return std::nullopt;
        }
        return line;
    };
    io.tell = [](const std::string& text) {
        std::fputs(text.c_str(), stderr);
        std::fflush(stderr);
    };
    return io;
}

int runWithInterrupts(QObject* context, const std::function<int()>& run,
                      const std::function<void()>& interrupted) {
    std::unique_ptr<QSocketNotifier> interrupts;
    if (interruptPipe[0] >= 0 || ::pipe(interruptPipe) == 0) {
        interrupts = std::make_unique<QSocketNotifier>(interruptPipe[0], QSocketNotifier::Read);
        QObject::connect(interrupts.get(), &QSocketNotifier::activated, context, [interrupted] {
            char byte = 0;
            [[maybe_unused]] const ssize_t got = ::read(interruptPipe[0], &byte, 1);
            interrupted();
        });
        std::signal(SIGINT, onInterrupt);
    }
    const int status = run();
    std::signal(SIGINT, SIG_DFL);
    return status;
}

int CommandRunner::runWithCtrlC() {
    return runWithInterrupts(
        this, [this] { return run(); }, [this] { interrupt(); });
}

int CommandRunner::run() {
    started_.start();
    engine_.start();
    settle();
    if (interrupted_) {
        return *interrupted_;
    }
    switch (options_.command) {
        case CliOptions::Command::status:
            return status();
        case CliOptions::Command::releases:
            return releases();
        case CliOptions::Command::update:
            return update();
        case CliOptions::Command::doctor:
            // Runs without the engine (main's runDoctorCommand).
        case CliOptions::Command::station:
            // Runs on a station (StationRunner).
            break;
    }
    return kExitUsage;
}

bool CommandRunner::waitUntil(const std::function<bool()>& done, double seconds) {
    return waitForChange(engine_, &UpdateEngine::changed, done, interrupted_, seconds);
}

void CommandRunner::settle() {
    QElapsedTimer since;
    since.start();
    waitUntil(
        [&] {
            if (engine_.awaitingHistory()) {
                return false;
            }
            const UpdateSnapshot s = engine_.snapshot();
            if (!s.attached) {
                // A controller attached already is found at once; a drive of
                // one in its bootloader is being written.
                return s.sta == Util::UpSta::none &&
                       since.elapsed() >= static_cast<qint64>(limits_.noController * 1000);
            }
            return s.identified || !s.otherModel.empty() || s.identifyTimedOut;
        },
        limits_.settle);
}

int CommandRunner::status() {
    const UpdateSnapshot s = engine_.snapshot();
    const bool offered = s.identified && isNewer(s.newest, s.fw);
    const bool published = !s.releases.empty() && s.newest == s.releases.front().ver;
    const bool bootloader = s.driveMounted || (!s.attached && s.sta == Util::UpSta::updating);
    if (options_.json) {
        QJsonObject controller;
        controller["attached"] = s.attached;
        controller["model"] = orNull(s.model);
        controller["firmware"] = s.identified ? QJsonValue(qs(s.fw)) : QJsonValue();
        controller["supported"] = s.otherModel.empty() && s.identified;
        controller["bootloader"] = bootloader;
        QJsonObject out;
        out["controller"] = (s.attached || bootloader) ? QJsonValue(controller) : QJsonValue();
        out["newest"] = qs(s.newest);
        out["newest_source"] = published ? "published" : "built-in";
        out["network"] = s.hasNetwork;
        out["offered"] = offered;
        emitJson(out);
    } else {
        std::string text;
        if (bootloader) {
            text += "Controller: in its bootloader (drive CRP DISABLE)\n";
        } else if (!s.attached) {
            text += "Controller: none attached\n";
        } else if (!s.otherModel.empty()) {
            text += "Controller: model " + escapeForLog(s.otherModel) + " (not supported)\n";
        } else if (!s.identified) {
            text += "Controller: attached, does not answer\n";
        } else {
            text += "Controller: Tarvo Remote (model T), firmware " + escapeForLog(s.fw) + "\n";
        }
        text += "Newest release: " + s.newest +
                (published ? " (published)"
                           : (s.hasNetwork ? " (built-in)" : " (built-in; no network)")) +
                "\n";
        text += offered ? "Update offered: " + s.fw + " -> " + s.newest : "Update offered: no";
        answer(text);
    }
    return offered ? kExitInstalled : kExitNothingToDo;
}

int CommandRunner::releases() {
    const UpdateSnapshot s = engine_.snapshot();
    if (options_.json) {
        QJsonArray published;
        for (const Util::Histoty& release : s.releases) {
            published.append(QJsonObject{{"version", qs(release.ver)}, {"date", qs(release.date)}});
        }
        QJsonObject out;
        out["published"] = published;
        out["builtin"] = QJsonObject{{"version", kBuiltinVersion}, {"date", kBuiltinDate}};
        out["network"] = s.hasNetwork;
        emitJson(out);
    } else {
        std::string text =
            s.hasNetwork ? "Published releases:\n" : "Published releases: unknown (no network)\n";
        for (const Util::Histoty& release : s.releases) {
            text += "  " + escapeForLog(release.ver) + "  " + escapeForLog(release.date) + "\n";
        }
        text += std::string("Built-in release: ") + kBuiltinVersion + "  " + kBuiltinDate;
        answer(text);
    }
    return kExitInstalled;
}

int CommandRunner::update() {
    const UpdateSnapshot s = engine_.snapshot();
    // A controller found in its bootloader is being finished already.
    if (s.sta == Util::UpSta::updating || s.driveMounted) {
        say("The controller is in its bootloader: finishing its update.");
        return follow(s.fw, {});
    }
    if (s.controllersAttached > 1) {
        // Which one would be meant? The window's words.
        say(std::to_string(s.controllersAttached) +
            " controllers are attached. Unplug all but one, or open the station view.");
        return finish(kExitNothingToDo, {}, {}, false, {}, "several controllers attached");
    }
    if (!s.attached) {
        say("No controller is attached. Plug it in and run the command again.");
        return finish(kExitNothingToDo, {}, {}, false, {}, "no controller attached");
    }
    if (!s.otherModel.empty()) {
        say("This controller reports model \"" + escapeForLog(s.otherModel) +
            "\"; only the Tarvo Remote (model T) is updated. Nothing was changed.");
        return finish(kExitNothingToDo, {}, {}, false, {}, "unsupported model");
    }
    if (!s.identified) {
        say("The controller does not answer. Unplug it, plug it in again and retry.");
        return finish(kExitFailed, {}, {}, false, "identification",
                      "the controller does not answer");
    }
    if (const std::optional<int> stop = prepare(s)) {
        return *stop;
    }
    const UpdateSnapshot prepared = engine_.snapshot();
    const std::string to = prepared.selected ? prepared.selected->ver : std::string();
    if (!confirmed(s.fw, to)) {
        return finish(interrupted_ ? *interrupted_ : kExitFailed, s.fw, to, false, {},
                      "not confirmed");
    }
    engine_.confirm();
    return follow(s.fw, to);
}

std::optional<int> CommandRunner::prepare(const UpdateSnapshot& before) {
    const std::string& fw = before.fw;
    if (!options_.image.empty()) {
        const std::optional<LocalPair> pair = judgeLocalPair(options_.firmware, options_.image);
        // The version in the names is the one the controller must come back with.
        if (!pair || pair->firmwareIndex != 0 || pair->version.empty()) {
            say("The files must be named like \"Tarvo Remote_FW_V1.3.bin\" (firmware) and "
                "\"Tarvo Remote_IMG_V1.3.bin\" (image), or \"FW_V1.3.bin\" and \"Img_V1.3.bin\" "
                "as downloaded.");
            return finish(kExitUsage, fw, {}, false, {}, "file names not recognised");
        }
        if (const Result<void> read =
                engine_.updateFromFiles(options_.image, options_.firmware, pair->version);
            !read.ok()) {
            say("Cannot read the files: " + read.error);
            return finish(kExitFailed, fw, pair->version, false, {}, read.error);
        }
        return std::nullopt;
    }
    if (options_.builtin ||
        (!options_.to.empty() && options_.to == kBuiltinVersion &&
         before.releases.end() ==
             std::find_if(before.releases.begin(), before.releases.end(),
                          [&](const auto& r) { return r.ver == options_.to; }))) {
        engine_.updateToBuiltIn();
        if (engine_.snapshot().mode == Util::UpMode::none) {
            say(std::string("The built-in release ") + kBuiltinVersion +
                " is not newer than the controller's " + fw + ". Nothing to do.");
            return finish(kExitNothingToDo, fw, kBuiltinVersion, false, {}, "nothing newer");
        }
        return std::nullopt;
    }
    if (!options_.to.empty()) {
        const auto it = std::find_if(before.releases.begin(), before.releases.end(),
                                     [&](const auto& r) { return r.ver == options_.to; });
        if (it == before.releases.end()) {
            say("Release " + options_.to + " is not published" +
                (before.hasNetwork ? "." : " (no network: the release list is unknown)."));
            return finish(before.hasNetwork ? kExitUsage : kExitFailed, fw, options_.to, false, {},
                          "release not published");
        }
        // The download blocks: it runs beside the event loop.
        const auto fetched = std::make_shared<std::optional<Result<void>>>();
        std::thread worker([this, release = *it, fetched] {
            Result<void> result = engine_.updateTo(release);
            postToMain([fetched, result] { *fetched = result; });
        });
        waitUntil([&] { return fetched->has_value(); }, limits_.update);
        worker.join();
        QCoreApplication::processEvents();
        if (!*fetched || !(*fetched)->ok()) {
            const std::string why = *fetched ? (*fetched)->error : "interrupted";
            say("Cannot download release " + options_.to + ": " + why);
            return finish(interrupted_ ? *interrupted_ : kExitFailed, fw, options_.to, false,
                          "download", why);
        }
        return std::nullopt;
    }
    if (!isNewer(before.newest, fw)) {
        say("The controller runs " + fw + "; no newer release is known. Nothing to do.");
        return finish(kExitNothingToDo, fw, before.newest, false, {}, "nothing newer");
    }
    engine_.updateToNewest();
    const bool ready = waitUntil(
        [&] {
            const UpdateSnapshot s = engine_.snapshot();
            return !s.downloading && (s.mode == Util::UpMode::none || s.filesHeld);
        },
        limits_.update);
    const UpdateSnapshot s = engine_.snapshot();
    if (!ready || s.mode == Util::UpMode::none || !s.filesHeld) {
        if (engine_.downloading()) {
            engine_.cancelDownload();
        }
        say(s.downloadNote.empty() ? std::string("The release could not be prepared.")
                                   : s.downloadNote);
        return finish(interrupted_ ? *interrupted_ : kExitFailed, fw, before.newest, false,
                      "download", s.downloadNote);
    }
    return std::nullopt;
}

bool CommandRunner::confirmed(const std::string& from, const std::string& to) {
    if (options_.yes) {
        return true;
    }
    if (!io_.stdinTerminal || !io_.readAnswer) {
        say("Refusing to install without a question answered: run with --yes to install "
            "without asking. Nothing was sent to the controller.");
        return false;
    }
    io_.tell("Install firmware " + to + " on the controller (now " + from + ")? [y/N] ");
    const std::optional<std::string> answer = io_.readAnswer();
    return answer && (*answer == "y" || *answer == "Y" || *answer == "yes");
}

int CommandRunner::follow(const std::string& from, const std::string& to) {
    std::optional<int> result;
    std::string failedStep;
    std::string reason;
    std::string installed = to;
    bool verified = false;
    const bool ended = waitUntil(
        [&] {
            const UpdateSnapshot s = engine_.snapshot();
            if (s.replugAlert && !instructed_) {
                instructed_ = true;
                say("The controller has not come back as its drive. Unplug the controller and "
                    "plug it in again; the update goes on.");
            }
            if (s.complete) {
                // No dialog to read: the write is reported, the return awaited.
                engine_.acknowledgeSuccess();
                return false;
            }
            // Set only when the controller came back with the version written.
            if (!s.verifiedVersion.empty()) {
                installed = s.verifiedVersion;
                verified = true;
                result = kExitInstalled;
                return true;
            }
            if (s.sta == Util::UpSta::failed && !s.finalStep) {
                failedStep = stageName(s.stage);
                reason = s.failureCause;
                result = kExitFailed;
                return true;
            }
            return false;
        },
        limits_.update);
    if (progressLineOpen_) {
        io_.tell("\n");
        progressLineOpen_ = false;
    }
    if (interrupted_) {
        return finish(*interrupted_, from, to, false, stageName(engine_.snapshot().stage),
                      "interrupted");
    }
    if (!ended || !result) {
        say("Timed out waiting for the update to end.");
        return finish(kExitTimedOut, from, to, false, stageName(engine_.snapshot().stage),
                      "timed out");
    }
    if (*result == kExitInstalled) {
        say("Update complete: the controller runs firmware " + installed + ".");
    } else {
        say("Update failed" + (failedStep.empty() ? std::string() : " (" + failedStep + ")") +
            ": " + reason);
    }
    return finish(*result, from, installed, verified, failedStep, reason);
}

int CommandRunner::finish(int status, const std::string& from, const std::string& to, bool verified,
                          const std::string& failedStep, const std::string& reason) {
    if (options_.json) {
        QJsonObject result;
        result["event"] = "result";
        result["from"] = orNull(from);
        result["to"] = orNull(to);
        result["verified"] = verified;
        result["failed_step"] = orNull(failedStep);
        result["reason"] = orNull(reason);
        result["exit_status"] = status;
        // The result is the last line a script reads.
        const std::string line = QJsonDocument(result).toJson(QJsonDocument::Compact).toStdString();
        if (io_.print) {
            io_.print(line);
        } else {
            printLastLine(line);
        }
    }
    return status;
}

void CommandRunner::showProgressLine(const ProgressLine& line) {
    if (line.stage == UpdateStage::none) {
        return;
    }
    const std::string text = UpdateEngine::progressText(line).toStdString();
    const bool newStage = line.stage != shownStage_;
    shownStage_ = line.stage;
    if (options_.json) {
        if (newStage) {
            emitJson(QJsonObject{
                {"event", "stage"}, {"stage", stageName(line.stage)}, {"text", qs(text)}});
        }
        return;
    }
    if (io_.stderrTerminal) {
        // One line, rewritten in place.
        io_.tell("\r\033[K" + text);
        progressLineOpen_ = true;
    } else if (newStage) {
        io_.tell(text + "\n");
    }
}

void CommandRunner::showPercent(int percent) {
    if (options_.json) {
        emitJson(QJsonObject{
            {"event", "progress"}, {"stage", stageName(shownStage_)}, {"percent", percent}});
    }
}

void CommandRunner::emitJson(const QJsonObject& object) {
    answer(QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString());
}

void CommandRunner::answer(const std::string& line) {
    if (io_.print) {
        io_.print(line);
    } else {
        printLine(line);
    }
}

void CommandRunner::say(const std::string& text) {
    if (progressLineOpen_) {
        io_.tell("\n");
        progressLineOpen_ = false;
    }
    io_.tell(text + "\n");
}

void CommandRunner::interrupt() {
    if (!engine_.updateRunning()) {
        if (engine_.downloading()) {
            engine_.cancelDownload();
        }
        say("Cancelled; nothing was sent to the controller.");
        interrupted_ = kExitInterrupted;
        return;
    }
    if (firstInterrupt_ && firstInterrupt_->elapsed() < kSecondInterruptMs) {
        say("Stopped. The controller is left as it is: run the tool again with it attached "
            "to finish the update.");
        interrupted_ = kExitInterrupted;
        return;
    }
    firstInterrupt_.emplace();
    firstInterrupt_->start();
    const UpdateStage stage = engine_.snapshot().stage;
    const bool erasing = stage == UpdateStage::erase || stage == UpdateStage::transfer;
    say(std::string(erasing ? "The controller is being erased and written: stopping now leaves "
                              "it without firmware until the update is run again."
                            : "The controller waits for its firmware: stopping now leaves it "
                              "in its bootloader until the tool runs again.") +
        " Press Ctrl-C again within 5 seconds to stop anyway.");
}

}  // namespace tarvo
