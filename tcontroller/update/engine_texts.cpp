// What the engine has to say beyond its state: the stage line under the bar,
// the words for the stage that failed, a failed download's cause and next
// step, and the details a user copies for support.

#include "tcontroller/base/log.h"
#include "tcontroller/base/recent_lines.h"
#include "tcontroller/update/update_engine.h"

namespace tarvo {
namespace {

// The line as one number, so an unchanged line is found with one atomic
// exchange; the empty line packs to 0.
std::uint64_t pack(const ProgressLine& line) {
    return (static_cast<std::uint64_t>(line.stage) << 48) |
           (static_cast<std::uint64_t>(static_cast<std::uint16_t>(line.percent + 1)) << 32) |
           static_cast<std::uint32_t>(line.secondsLeft + 1);
}

}  // namespace

void UpdateEngine::setProgressLineLater(const ProgressLine& line) {
    const std::uint64_t packed = pack(line);
    if (shownLine_.exchange(packed) == packed) {
        return;
    }
    // As for the bar: emitted on the main thread only.
    onMainThread([line](UpdateEngine& engine) { emit engine.progressLineChanged(line); });
}

QString UpdateEngine::progressText(const ProgressLine& line) {
    switch (line.stage) {
        case UpdateStage::erase:
            return tr("Erasing \u2013 %1 s left").arg(line.secondsLeft);
        case UpdateStage::transfer:
            return tr("Sending firmware \u2013 %1% of the image sent, about %2 s left")
                .arg(line.percent)
                .arg(line.secondsLeft);
        case UpdateStage::finalStep:
        case UpdateStage::waitingForDrive:
            return tr("Waiting for the controller's drive CRP DISABLE\u2026");
        case UpdateStage::firmwareWrite:
            return tr("Writing firmware\u2026");
        case UpdateStage::download:
            return line.percent < 0 ? tr("Downloading\u2026")
                                    : tr("Downloading \u2013 %1%").arg(line.percent);
        case UpdateStage::verification:
        case UpdateStage::none:
            break;
    }
    return {};
}

UpdateEngine::StageFailure UpdateEngine::stageFailure(UpdateStage stage) const {
    // The cause is what happened, in words every front end can show; what to
    // do next speaks of the window's buttons.
    const QString restart =
        tr("Plug it in again, wait until the window shows its firmware version, then press "
           "UPDATE TO NEWEST to start over.");
    switch (stage) {
        case UpdateStage::erase:
            return {tr("erase"),
                    tr("The controller was unplugged or stopped answering while it was being "
                       "erased."),
                    restart};
        case UpdateStage::transfer:
            return {tr("transfer"),
                    tr("The controller was unplugged or stopped answering while the firmware "
                       "image was sent."),
                    restart};
        case UpdateStage::finalStep:
        case UpdateStage::waitingForDrive:
            return {tr("final step"),
                    tr("The controller was gone when the command to restart as its drive CRP "
                       "DISABLE was due."),
                    tr("Plug it in again, wait until the window shows its firmware version, "
                       "then press OK: the command is sent again.")};
        case UpdateStage::firmwareWrite:
            return {tr("firmware write"),
                    tr("The firmware could not be written onto the controller's drive CRP "
                       "DISABLE."),
                    tr("Keep this tool open, unplug the controller and plug it in again: the "
                       "firmware is written again when its drive appears.")};
        case UpdateStage::verification:
            return {tr("verification"), QString::fromStdString(failureNote_.get()), {}};
        case UpdateStage::download:
        case UpdateStage::none:
            break;
    }
    // No stage to name: the general failure text stands.
    return {{}, QString::fromStdString(failureNote_.get()), {}};
}

std::string UpdateEngine::failureText(const StageFailure& failure) {
    if (failure.name.isEmpty()) {
        return failure.cause.toStdString();
    }
    QString what = failure.cause;
    if (!failure.next.isEmpty()) {
        what += QLatin1Char(' ') + failure.next;
    }
    return (tr("Step that failed: %1.").arg(failure.name) + QLatin1Char('\n') + what +
            QLatin1Char(' ') +
            tr("If it fails again, press Copy details and send them to support."))
        .toStdString();
}

std::string UpdateEngine::downloadFailureText(const std::string& ver,
                                              const Download& failed) const {
    const QString version = QString::fromStdString(ver);
    // A read that reached nobody, or broke off, on a computer that has lost
    // its network is told as that; with a network the server is to blame.
    const bool noNetwork = (failed.failure == ReadFailure::cannotConnect ||
                            failed.failure == ReadFailure::interrupted) &&
                           reachability &&
                           reachability->connectionNow() == Reachability::Connection::unavailable;
    QString cause;
    QString next;
    if (failed.failure == ReadFailure::cancelled) {
        return {};
    }
    if (noNetwork) {
        cause = tr("this computer has no network connection");
        next = tr("Connect it to the internet, then press UPDATE TO NEWEST again.");
    } else if (failed.failure == ReadFailure::httpStatus) {
        cause = tr("the server answered %1").arg(failed.httpStatus);
        next =
            tr("The release may have been withdrawn. Press UPDATE TO NEWEST to try again "
               "later; if this keeps happening, contact support.");
    } else if (failed.failure == ReadFailure::cannotConnect) {
        cause = tr("the firmware server cannot be reached");
        next =
            tr("The network works, but the server does not answer. Press UPDATE TO NEWEST to "
               "try again in a few minutes; if this keeps happening, contact support.");
    } else if (failed.failure == ReadFailure::interrupted) {
        cause = tr("the download broke off (%1)").arg(QString::fromStdString(failed.bytes.error));
        next = tr("Press UPDATE TO NEWEST to try again.");
    } else {
        cause = QString::fromStdString(failed.bytes.error);
        next = tr("Press UPDATE TO NEWEST to try again; if this keeps happening, contact support.");
    }
    return (tr("Could not download firmware %1: %2.").arg(version, cause) + QLatin1Char('\n') +
            next)
        .toStdString();
}

std::string UpdateEngine::supportDetails() const {
    const std::string model = hid_model.get();
    std::string text = "Tarvo Remote Firmware Update " TARVO_VERSION "\n";
    text += "Built-in release: " + FW_VER + " (" + FW_DATE + ")\n";
    // The last controller identified, also when it has gone since.
    text += model.empty() ? std::string("Controller: none identified")
                          : "Controller: model " + escapeForLog(model) + ", firmware " +
                                escapeForLog(hid_FW.get());
    text += hidDeviceInfo.get() ? "\n" : ", not attached now\n";
    const std::string release = attemptedRelease_.get();
    text += "Release: " + (release.empty() ? std::string("none") : escapeForLog(release)) + "\n";
    text += "Status: " + std::string(Util::name(updateSta.load())) + "\n";
    // Lines logged a moment ago may still be on their way to the recent lines.
    dispatchLog(0.5);
    const std::vector<std::string> lines = recentLogLines().lines();
    text += "Last " + std::to_string(lines.size()) + " log lines:\n";
    for (const std::string& line : lines) {
        text += line;
        text += '\n';
    }
    return text;
}

}  // namespace tarvo
