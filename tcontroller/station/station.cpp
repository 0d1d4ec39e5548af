// Several controllers at once: one engine per USB port behind one HID monitor
// and one volume watcher, and one bootloader stage at a time.
#include "tcontroller/station/station.h"

#include <QPointer>
#include <QTimer>
#include <algorithm>

#include "tcontroller/base/log.h"
#include "tcontroller/catalogue/builtin_files.h"
#include "tcontroller/catalogue/version.h"
#include "tcontroller/station/port_router.h"
#include "tcontroller/station/port_services.h"
#include "tcontroller/station/station_port.h"
#include "tcontroller/update/update_engine.h"

namespace tarvo {
namespace {

using station_ports::SharedInhibitor;

using UpSta = Util::UpSta;
using UpMode = Util::UpMode;
using State = StationRow::State;

// How long, in real time, a controller in its bootloader turn may go on
// raising the replug alert before the station goes on without it.
constexpr qint64 kGiveUpDriveMs = 20000;
// How long one controller may hold the bootloader stage before it is given up
// (its drive never came, or it never came back), so the others go on.
constexpr int kBootloaderTurnMs = 120000;

}  // namespace

Station::Station(const Platform& platform, QObject* parent)
    : QObject(parent),
      platform_(platform),
      inhibitor_(std::make_unique<SharedInhibitor>(platform_.sleepInhibitor)),
      turns_([this] { postToMainOrNow([this] { grantBootloaderTurn(); }); }) {
    qRegisterMetaType<StationRow>();
    // A port seen for the first time gets its engine on the main thread (its
    // events wait in the router until then).
    router_ = std::make_unique<PortRouter>(
        [this](const std::string& port) { postToMainOrNow([this, port] { addPort(port); }); });
    turnLimit_ = new QTimer(this);
    turnLimit_->setSingleShot(true);
    connect(turnLimit_, &QTimer::timeout, this, &Station::turnOverdue);
}

Station::~Station() {
    turns_.stop();
    if (monitor_) {
        monitor_->stop();
    }
    if (monitorThread_.joinable()) {
        monitorThread_.join();
    }
    if (platform_.volumeWatcher != nullptr) {
        platform_.volumeWatcher->stop();
        platform_.volumeWatcher->disconnect(this);
    }
    for (auto& [name, port] : ports_) {
        if (port->preparing.joinable()) {
            port->preparing.join();
        }
        port->engine.reset();
        router_->unbind(name);
    }
}

void Station::start() {
    watchBus();
    watchDrives();
}

void Station::postToMainOrNow(std::function<void()> job) {
    QPointer<Station> self(this);
    postToMain([self, job = std::move(job)] {
        if (self) {
            job();
        }
    });
}

UpdateEngine* Station::engine(const std::string& port) const {
    const auto it = ports_.find(port);
    return it == ports_.end() ? nullptr : it->second->engine.get();
}

std::vector<StationRow> Station::rows() const {
    std::vector<StationRow> out;
    for (const auto& [name, port] : ports_) {
        out.push_back(rowOf(*port));
    }
    return out;
}

StationRow Station::rowOf(const Port& port) const {
    StationRow row = port.row;
    if (row.state == State::updating) {
        row.percent = port.percent;
        row.stage = port.line.stage != UpdateStage::none ? port.line.stage : row.stage;
        row.secondsLeft = port.line.secondsLeft;
    }
    return row;
}

std::vector<std::string> Station::releaseVersions() const {
    for (const auto& [name, port] : ports_) {
        const UpdateSnapshot s = port->engine->snapshot();
        if (!s.releases.empty()) {
            std::vector<std::string> out;
            for (const auto& release : s.releases) {
                out.push_back(release.ver);
            }
            return out;
        }
    }
    return {};
}

bool Station::anyPastErase() const {
    return std::any_of(ports_.begin(), ports_.end(),
                       [](const auto& entry) { return entry.second->engine->updateRunning(); });
}

bool Station::busy() const {
    return std::any_of(ports_.begin(), ports_.end(), [](const auto& entry) {
        const State state = entry.second->row.state;
        return state == State::queued || state == State::updating;
    });
}

int Station::updateAll(const std::string& version) {
    int asked = 0;
    for (auto& [name, port] : ports_) {
        const State state = port->row.state;
        if (!port->row.attached || !port->row.supported || state == State::queued ||
            state == State::updating) {
            continue;
        }
        ask(*port, version);
        asked += port->row.state == State::queued ? 1 : 0;
    }
    emit rowsChanged();
    return asked;
}

void Station::setUpdateOnPlug(bool on, const std::string& version) {
    updateOnPlug_ = on;
    plugVersion_ = version;
    if (on) {
        // Those already plugged in count as arriving now.
        for (auto& [name, port] : ports_) {
            if (!port->updatedThisPlug && port->row.supported && port->row.attached &&
                port->row.state != State::queued && port->row.state != State::updating) {
                port->updatedThisPlug = true;
                ask(*port, version);
            }
        }
        emit rowsChanged();
    }
}

void Station::ask(Port& port, const std::string& wanted) {
    UpdateEngine& engine = *port.engine;
    const UpdateSnapshot s = engine.snapshot();
    if (s.sta == UpSta::failed) {
        engine.acknowledgeFailure();
    }
    const std::string version = wanted.empty() ? s.newest : wanted;
    if (version.empty() || (wanted.empty() && !isNewer(version, s.fw)) ||
        (!isNewer(version, s.fw) && !isNewer(s.fw, version))) {
        // Nothing newer (or it runs that version already).
        return;
    }
    port.row.state = State::queued;
    port.row.target = version;
    port.row.after.clear();
    port.row.failedStep.clear();
    port.row.reason.clear();
    port.row.seconds = 0;
    port.confirmed = false;
    port.percent = -1;
    port.line = {};
    port.alertsThisUpdate = 0;
    port.clock.start();
    logLine("station: " + escapeForLog(port.name) + " gets " + escapeForLog(version));
    const auto published = std::find_if(s.releases.begin(), s.releases.end(),
                                        [&](const auto& r) { return r.ver == version; });
    if (published == s.releases.end()) {
        if (version == kBuiltinVersion) {
            engine.updateToBuiltIn();
        } else {
            port.row.state = State::failed;
            port.row.failedStep = stageName(UpdateStage::download);
            port.row.reason = "no release " + version + " is published";
        }
        return;
    }
    if (published == s.releases.begin() && version == s.newest) {
        engine.updateToNewest();
        return;
    }
    // A named release is downloaded off the main thread.
    if (port.preparing.joinable()) {
        port.preparing.join();
    }
    UpdateEngine* target = &engine;
    port.preparing =
        std::thread([target, release = *published] { (void)target->updateTo(release); });
}

void Station::onEngineChanged(const std::string& name) {
    const auto it = ports_.find(name);
    if (it == ports_.end()) {
        return;
    }
    Port& port = *it->second;
    UpdateEngine& engine = *port.engine;
    const UpdateSnapshot s = engine.snapshot();
    StationRow& row = port.row;
    const bool wasAttached = row.attached;
    row.attached = s.attached;
    if (!s.model.empty()) {
        row.model = s.model;
    }
    row.supported = s.identified;
    const bool active = row.state == State::queued || row.state == State::updating;
    if (!wasAttached && s.attached && !active) {
        // Plugged in anew: a new controller for the row (the last result
        // was told when it ended).
        port.updatedThisPlug = false;
        row.state = State::idle;
        row.after.clear();
        row.target.clear();
        row.failedStep.clear();
        row.reason.clear();
    }
    if (s.identified && row.state == State::idle) {
        row.before = s.fw;
    }
    if (active) {
        if (s.complete) {
            // Its firmware is written: "Update complete!" is for a window's user.
            engine.acknowledgeSuccess();
        }
        if (row.state == State::queued && !port.confirmed && s.mode != UpMode::none &&
            s.filesHeld && s.sta == UpSta::none && !s.downloading) {
            port.confirmed = true;
            row.state = State::updating;
            engine.confirm();
        } else if (row.state == State::queued && !s.downloading && s.mode == UpMode::none &&
                   !s.downloadNote.empty()) {
            row.failedStep = stageName(UpdateStage::download);
            row.reason = s.downloadNote;
            finish(port, State::failed);
        } else if (s.sta == UpSta::updating) {
            row.state = State::updating;
            row.stage = s.stage;
        } else if (row.state == State::updating && s.sta == UpSta::failed && !s.replugAlert &&
                   s.stage != UpdateStage::finalStep && s.stage != UpdateStage::waitingForDrive) {
            // (A final step that could not be sent while the controller is
            // away is sent again; its drive may still come, within the turn's
            // limit.)
            row.failedStep = stageName(s.stage);
            row.reason = s.failureCause;
            finish(port, State::failed);
        } else if (row.state == State::updating && !s.verifiedVersion.empty()) {
            row.after = s.verifiedVersion;
            finish(port, State::verified);
        }
        if (s.replugAlert && !port.alertAnswered && row.state == State::updating) {
            port.alertAnswered = true;
            answerReplugAlert(port);
        } else if (!s.replugAlert) {
            port.alertAnswered = false;
        }
    } else if (updateOnPlug_ && s.identified && s.attached && !port.updatedThisPlug) {
        port.updatedThisPlug = true;
        ask(port, plugVersion_);
    }
    emit rowsChanged();
}

void Station::answerReplugAlert(Port& port) {
    // (Given up only after a while of real time: on a fast test clock the
    // alert comes up again before a drive can mount.)
    const bool waitedLongEnough =
        turns_.holds(port.name) && turnClock_.isValid() && turnClock_.elapsed() >= kGiveUpDriveMs;
    if (++port.alertsThisUpdate == 1 || !waitedLongEnough) {
        // The final step is sent again, as the alert's button would.
        port.engine->alerted();
        return;
    }
    // Still no drive: only a person can replug it. The others go on; its own
    // drive, should it come, is still its own.
    logLine("station: " + escapeForLog(port.name) + " needs a replug");
    port.row.failedStep = stageName(UpdateStage::waitingForDrive);
    port.row.reason =
        "The controller did not restart as its drive CRP DISABLE. Unplug it and plug it in "
        "again, then update it again.";
    finish(port, State::failed);
}

void Station::finish(Port& port, State state) {
    StationRow& row = port.row;
    row.state = state;
    row.seconds = port.clock.isValid() ? static_cast<double>(port.clock.elapsed()) / 1000 : 0;
    row.percent = -1;
    logLine("station: " + escapeForLog(port.name) +
            (state == State::verified ? " verified " + escapeForLog(row.after)
                                      : " failed at " + row.failedStep));
    if (turns_.release(port.name)) {
        turnLimit_->stop();
    }
    emit finished(rowOf(port));
    grantBootloaderTurn();
}

void Station::grantBootloaderTurn() {
    // One at a time: nothing is granted while a port holds the turn.
    const std::string next = turns_.grantNext();
    if (next.empty()) {
        return;
    }
    logLine("station: bootloader turn to " + escapeForLog(next));
    turnClock_.start();
    turnLimit_->start(kBootloaderTurnMs);
}

void Station::turnOverdue() {
    // The holder's drive never came, or it never came back: it is given up
    // so the others go on.
    const auto it = ports_.find(turns_.holder());
    if (it == ports_.end()) {
        return;
    }
    Port& port = *it->second;
    if (port.row.state != State::updating) {
        return;
    }
    logLine("station: " + escapeForLog(port.name) + " did not finish its bootloader stage");
    port.row.failedStep = stageName(port.engine->snapshot().stage);
    port.row.reason = "the controller did not come back from its bootloader in time";
    finish(port, State::failed);
    emit rowsChanged();
}

}  // namespace tarvo
