// Several controllers at once: one engine per USB port behind one HID monitor
// and one volume watcher, and one bootloader stage at a time.
#include "tcontroller/station/station.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <variant>

#include "tcontroller/base/log.h"
#include "tcontroller/catalogue/builtin_files.h"
#include "tcontroller/catalogue/version.h"
#include "tcontroller/device/frame.h"
#include "tcontroller/device/identity.h"
#include "tcontroller/platform/work_queue.h"
#include "tcontroller/station/port_services.h"
#include "tcontroller/update/update_engine.h"

namespace tarvo {
namespace {

using station_ports::PortMonitor;
using station_ports::PortVolumes;
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

// The key a device is filed under: its port, or its name where the platform
// cannot tell the port.
std::string portKey(const HIDDevicePtr& device) {
    const std::string port = device->port();
    return port.empty() ? device->name() : port;
}

// A folder name for a port: its characters that may not stand in one as '_'.
std::string folderName(const std::string& port) {
    std::string out = port;
    for (char& c : out) {
        if (c == '/' || c == '\0') {
            c = '_';
        }
    }
    return out;
}

}  // namespace

// The station's one monitor and watcher, and the ports they serve.
class Station::Router {
  public:
    explicit Router(Station& station) : station_(station) {}

    // Hands `event` to the port's monitor; a port seen for the first time
    // gets its engine on the main thread (its events wait until then).
    void route(const std::string& port, PortMonitor::Event event) {
        std::shared_ptr<Inbox> inbox;
        {
            std::lock_guard<std::mutex> hold(lock_);
            auto& slot = inboxes_[port];
            if (!slot) {
                slot = std::make_shared<Inbox>();
                QPointer<Station> station(&station_);
                postToMain([station, port] {
                    if (station) {
                        station->addPort(port);
                    }
                });
            }
            inbox = slot;
        }
        std::lock_guard<std::mutex> hold(inbox->lock);
        if (inbox->monitor != nullptr) {
            inbox->monitor->deliver(std::move(event));
        } else {
            inbox->early.push_back(std::move(event));
        }
    }
    // The monitor the port's engine made: the events so far go to it first.
    void bind(const std::string& port, PortMonitor* monitor) {
        std::shared_ptr<Inbox> inbox;
        {
            std::lock_guard<std::mutex> hold(lock_);
            inbox = inboxes_[port];
            if (!inbox) {
                inbox = std::make_shared<Inbox>();
                inboxes_[port] = inbox;
            }
        }
        std::lock_guard<std::mutex> hold(inbox->lock);
        for (PortMonitor::Event& event : inbox->early) {
            monitor->deliver(std::move(event));
        }
        inbox->early.clear();
        inbox->monitor = monitor;
    }
    void unbind(const std::string& port) {
        std::lock_guard<std::mutex> hold(lock_);
        if (const auto it = inboxes_.find(port); it != inboxes_.end()) {
            std::lock_guard<std::mutex> holdInbox(it->second->lock);
            it->second->monitor = nullptr;
        }
    }
    // Every port's monitor (a failure of the one monitor is every port's).
    std::vector<std::string> ports() const {
        std::lock_guard<std::mutex> hold(lock_);
        std::vector<std::string> out;
        for (const auto& [port, inbox] : inboxes_) {
            out.push_back(port);
        }
        return out;
    }

    std::unique_ptr<HidMonitor> monitor;
    std::thread monitorThread;
    std::atomic<bool> stopping{false};
    std::unique_ptr<SharedInhibitor> inhibitor;

  private:
    struct Inbox {
        std::mutex lock;
        PortMonitor* monitor = nullptr;
        std::vector<PortMonitor::Event> early;
    };
    Station& station_;
    mutable std::mutex lock_;
    std::map<std::string, std::shared_ptr<Inbox>> inboxes_;
};

// A controller's port: its engine, what the station asked of it and how its
// update went.
struct Station::Port {
    std::string name;
    Platform platform;
    std::unique_ptr<PortVolumes> volumes;
    std::unique_ptr<SharedInhibitor::Share> inhibitor;
    std::unique_ptr<UpdateEngine> engine;
    std::thread preparing;  // a named release's download

    StationRow row;
    bool confirmed = false;       // the prepared release was started
    bool completionSeen = false;  // its firmware was written
    int percent = -1;
    ProgressLine line{};
    QElapsedTimer clock;
    bool updatedThisPlug = false;  // for update-on-plug: done until it is re-plugged
    bool alertAnswered = false;    // the replug alert that is up was answered
    int alertsThisUpdate = 0;      // replug alerts since the update was asked

    // The bootloader turn: asked from the transfer's thread, granted on the main thread.
    std::mutex turnLock;
    std::condition_variable turnGranted;
    bool wantsTurn = false;
    bool hasTurn = false;
    bool givenUp = false;
    QTimer* turnLimit = nullptr;
    QElapsedTimer turnClock;  // since the turn was granted
};

Station::Station(const Platform& platform, QObject* parent)
    : QObject(parent), platform_(platform), router_(std::make_unique<Router>(*this)) {
    qRegisterMetaType<StationRow>();
    router_->inhibitor = std::make_unique<SharedInhibitor>(platform_.sleepInhibitor);
}

Station::~Station() {
    router_->stopping = true;
    for (auto& [name, port] : ports_) {
        std::lock_guard<std::mutex> hold(port->turnLock);
        port->givenUp = true;
        port->turnGranted.notify_all();
    }
    if (router_->monitor) {
        router_->monitor->stop();
    }
    if (router_->monitorThread.joinable()) {
        router_->monitorThread.join();
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
    if (platform_.hidMonitorFactory) {
        router_->monitor =
            platform_.hidMonitorFactory({HIDMonitorData{identity::kVendorId, identity::kProductId}},
                                        static_cast<int>(frame::kReportSize));
    }
    if (!router_->monitor) {
        logLine("station: no HID monitor");
    } else {
        Router* router = router_.get();
        HidMonitor* monitor = router_->monitor.get();
        connect(
            monitor, &HidMonitor::HIDDeviceConnected, this,
            [router](const HIDDevicePtr& device) {
                router->route(portKey(device), PortMonitor::Connected{device});
            },
            Qt::DirectConnection);
        connect(
            monitor, &HidMonitor::HIDDeviceDisconnected, this,
            [router](const HIDDevicePtr& device) {
                router->route(portKey(device), PortMonitor::Disconnected{device});
            },
            Qt::DirectConnection);
        connect(
            monitor, &HidMonitor::HIDDeviceDataReceived, this,
            [router](const HIDDevicePtr& device, const QByteArray& bytes) {
                router->route(portKey(device), PortMonitor::Data{device, bytes});
            },
            Qt::DirectConnection);
        connect(
            monitor, &HidMonitor::HIDMonitorFailed, this,
            [router](const QString& reason) {
                logLine("station: cannot watch the USB bus: " + escapeForLog(reason.toStdString()));
                for (const std::string& port : router->ports()) {
                    router->route(port, PortMonitor::Failed{reason});
                }
            },
            Qt::DirectConnection);
        router_->monitorThread = std::thread([monitor] { monitor->start(); });
    }
    if (platform_.volumeWatcher != nullptr) {
        // Each drive goes to the engine of its port; one whose port is not
        // known goes to the controller in its bootloader stage, and to no other.
        const auto owners = [this](const QVariant& info) {
            std::vector<Port*> out;
            const QString port =
                info.toMap().value(QString::fromLatin1(kVolumeUsbPortKey)).toString();
            for (auto& [name, p] : ports_) {
                const bool own = !port.isEmpty() && port.toStdString() == name;
                std::lock_guard<std::mutex> hold(p->turnLock);
                if (own || (port.isEmpty() && p->hasTurn)) {
                    out.push_back(p.get());
                }
            }
            return out;
        };
        connect(
            platform_.volumeWatcher, &VolumeWatcher::didMount, this,
            [this, owners](const QVariant& info) {
                postToMainOrNow([owners, info] {
                    for (Port* p : owners(info)) {
                        p->volumes->tellMounted(info);
                    }
                });
            },
            Qt::DirectConnection);
        connect(
            platform_.volumeWatcher, &VolumeWatcher::didUnmount, this,
            [this](const QVariant& info) {
                postToMainOrNow([this, info] {
                    for (auto& [name, p] : ports_) {
                        p->volumes->tellUnmounted(info);
                    }
                });
            },
            Qt::DirectConnection);
        connect(
            platform_.volumeWatcher, &VolumeWatcher::mountFailed, this,
            [this](const QString& label, const QString& reason) {
                postToMainOrNow([this, label, reason] {
                    for (auto& [name, p] : ports_) {
                        std::lock_guard<std::mutex> hold(p->turnLock);
                        if (p->hasTurn) {
                            p->volumes->tellFailed(label, reason);
                        }
                    }
                });
            },
            Qt::DirectConnection);
        if (const Result<void> started = platform_.volumeWatcher->start(); !started.ok()) {
            logLine("station: cannot watch drives: " + escapeForLog(started.error));
        }
    }
}

void Station::postToMainOrNow(std::function<void()> job) {
    QPointer<Station> self(this);
    postToMain([self, job = std::move(job)] {
        if (self) {
            job();
        }
    });
}

void Station::addPort(const std::string& name) {
    if (ports_.count(name) != 0) {
        return;
    }
    auto port = std::make_unique<Port>();
    Port* p = port.get();
    p->name = name;
    p->row.port = name;
    p->platform = platform_;
    p->volumes = std::make_unique<PortVolumes>();
    if (platform_.volumeWatcher != nullptr) {
        for (const QVariantMap& volume : platform_.volumeWatcher->mountedAtStart()) {
            if (volume.value(QString::fromLatin1(kVolumeUsbPortKey)).toString().toStdString() ==
                name) {
                p->volumes->atStart.push_back(volume);
            }
        }
    }
    p->platform.volumeWatcher = p->volumes.get();
    p->inhibitor = std::make_unique<SharedInhibitor::Share>(*router_->inhibitor);
    p->platform.sleepInhibitor = p->inhibitor.get();
    if (!platform_.pendingDir.empty()) {
        p->platform.pendingDir = platform_.pendingDir + "/" + folderName(name);
    }
    Router* router = router_.get();
    p->platform.hidMonitorFactory = [router, name](const std::vector<HIDMonitorData>&, int) {
        auto monitor = std::make_unique<PortMonitor>();
        router->bind(name, monitor.get());
        return std::unique_ptr<HidMonitor>(std::move(monitor));
    };
    p->platform.awaitBootloaderTurn = [this, p] {
        {
            std::lock_guard<std::mutex> hold(p->turnLock);
            p->wantsTurn = true;
        }
        postToMainOrNow([this] { grantBootloaderTurn(); });
        std::unique_lock<std::mutex> hold(p->turnLock);
        p->turnGranted.wait(hold, [p] { return p->hasTurn || p->givenUp; });
        return p->hasTurn && !p->givenUp;
    };
    p->engine = std::make_unique<UpdateEngine>(p->platform);
    // Nobody reads a desktop notice per controller; the station's view tells.
    p->engine->setUserWatching([] { return true; });
    connect(p->engine.get(), &UpdateEngine::changed, this, [this, name] { onEngineChanged(name); });
    connect(p->engine.get(), &UpdateEngine::progressChanged, this, [this, p](int percent) {
        p->percent = percent;
        emit rowsChanged();
    });
    connect(p->engine.get(), &UpdateEngine::progressLineChanged, this,
            [this, p](const ProgressLine& line) {
                p->line = line;
                emit rowsChanged();
            });
    logLine("station: controller on port " + escapeForLog(name));
    ports_.emplace(name, std::move(port));
    p->engine->start();
    onEngineChanged(name);
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
    port.completionSeen = false;
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
    const auto finish = [&](State state) {
        row.state = state;
        row.seconds = port.clock.isValid() ? static_cast<double>(port.clock.elapsed()) / 1000 : 0;
        row.percent = -1;
        logLine("station: " + escapeForLog(name) +
                (state == State::verified ? " verified " + escapeForLog(row.after)
                                          : " failed at " + row.failedStep));
        {
            std::lock_guard<std::mutex> hold(port.turnLock);
            if (port.hasTurn) {
                port.hasTurn = false;
                if (port.turnLimit != nullptr) {
                    port.turnLimit->stop();
                }
            }
        }
        emit finished(rowOf(port));
        grantBootloaderTurn();
    };
    if (active) {
        if (s.complete) {
            // Its firmware is written: "Update complete!" is for a window's user.
            port.completionSeen = true;
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
            finish(State::failed);
        } else if (s.sta == UpSta::updating) {
            row.state = State::updating;
            row.stage = s.stage;
        } else if (row.state == State::updating && s.sta == UpSta::failed && !s.replugAlert &&
                   s.stage != UpdateStage::finalStep && s.stage != UpdateStage::waitingForDrive) {
            // (A final step that could not be sent while the controller is
            // away is sent again; its drive may still come, within the turn's
            // limit.)
            row.failedStep = stageName(s.stage);
            row.reason = s.failureNote;
            finish(State::failed);
        } else if (row.state == State::updating && !s.verifiedVersion.empty()) {
            row.after = s.verifiedVersion;
            finish(State::verified);
        }
        if (s.replugAlert && !port.alertAnswered && row.state == State::updating) {
            port.alertAnswered = true;
            // (Given up only after a while of real time: on a fast test
            // clock the alert comes up again before a drive can mount.)
            if (++port.alertsThisUpdate == 1 || !port.turnClock.isValid() ||
                port.turnClock.elapsed() < kGiveUpDriveMs) {
                // The final step is sent again, as the alert's button would.
                engine.alerted();
            } else {
                // Still no drive: only a person can replug it. The others
                // go on; its own drive, should it come, is still its own.
                logLine("station: " + escapeForLog(name) + " needs a replug");
                row.failedStep = stageName(UpdateStage::waitingForDrive);
                row.reason =
                    "The controller did not restart as its drive CRP DISABLE. Unplug "
                    "it and plug it in again, then update it again.";
                finish(State::failed);
            }
        } else if (!s.replugAlert) {
            port.alertAnswered = false;
        }
    } else if (updateOnPlug_ && s.identified && s.attached && !port.updatedThisPlug) {
        port.updatedThisPlug = true;
        ask(port, plugVersion_);
    }
    emit rowsChanged();
}

void Station::grantBootloaderTurn() {
    // One at a time: none is granted while one holds it.
    Port* next = nullptr;
    for (auto& [name, port] : ports_) {
        std::lock_guard<std::mutex> hold(port->turnLock);
        if (port->hasTurn) {
            return;
        }
        if (next == nullptr && port->wantsTurn) {
            next = port.get();
        }
    }
    if (next == nullptr || router_->stopping) {
        return;
    }
    {
        std::lock_guard<std::mutex> hold(next->turnLock);
        next->wantsTurn = false;
        next->hasTurn = true;
        next->turnGranted.notify_all();
    }
    logLine("station: bootloader turn to " + escapeForLog(next->name));
    next->turnClock.start();
    if (next->turnLimit == nullptr) {
        next->turnLimit = new QTimer(this);
        next->turnLimit->setSingleShot(true);
        const std::string name = next->name;
        connect(next->turnLimit, &QTimer::timeout, this, [this, name] {
            const auto it = ports_.find(name);
            if (it == ports_.end()) {
                return;
            }
            Port& port = *it->second;
            if (port.row.state != State::updating) {
                return;
            }
            logLine("station: " + escapeForLog(name) + " did not finish its bootloader stage");
            port.row.failedStep = stageName(port.engine->snapshot().stage);
            port.row.reason = "the controller did not come back from its bootloader in time";
            port.row.state = State::failed;
            port.row.seconds = static_cast<double>(port.clock.elapsed()) / 1000;
            {
                std::lock_guard<std::mutex> hold(port.turnLock);
                port.hasTurn = false;
            }
            emit finished(rowOf(port));
            emit rowsChanged();
            grantBootloaderTurn();
        });
    }
    next->turnLimit->start(kBootloaderTurnMs);
}

}  // namespace tarvo
