// The station's watch over the bus and the drives: one HID monitor fanned out
// to an engine per port, and each drive handed to its own port's engine.

#include "tcontroller/base/log.h"
#include "tcontroller/station/port_router.h"
#include "tcontroller/station/station.h"
#include "tcontroller/station/station_port.h"

namespace tarvo {
namespace {

using station_ports::PortMonitor;
using station_ports::PortVolumes;
using station_ports::SharedInhibitor;

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

void Station::watchBus() {
    monitor_ = makeControllerMonitor(platform_);
    if (!monitor_) {
        logLine("station: no HID monitor");
        return;
    }
    PortRouter* router = router_.get();
    HidMonitor* monitor = monitor_.get();
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
    monitorThread_ = std::thread([monitor] { monitor->start(); });
}

void Station::watchDrives() {
    VolumeWatcher* watcher = platform_.volumeWatcher;
    if (watcher == nullptr) {
        return;
    }
    // Each drive goes to the engine of its port; one whose port is not known
    // goes to the controller in its bootloader stage, and to no other.
    const auto owners = [this](const QVariant& info) {
        std::vector<Port*> out;
        const QString port = info.toMap().value(QString::fromLatin1(kVolumeUsbPortKey)).toString();
        for (auto& [name, p] : ports_) {
            const bool own = !port.isEmpty() && port.toStdString() == name;
            if (own || (port.isEmpty() && turns_.holds(name))) {
                out.push_back(p.get());
            }
        }
        return out;
    };
    connect(
        watcher, &VolumeWatcher::didMount, this,
        [this, owners](const QVariant& info) {
            postToMainOrNow([owners, info] {
                for (Port* p : owners(info)) {
                    p->volumes->tellMounted(info);
                }
            });
        },
        Qt::DirectConnection);
    connect(
        watcher, &VolumeWatcher::didUnmount, this,
        [this](const QVariant& info) {
            postToMainOrNow([this, info] {
                for (auto& [name, p] : ports_) {
                    p->volumes->tellUnmounted(info);
                }
            });
        },
        Qt::DirectConnection);
    connect(
        watcher, &VolumeWatcher::mountFailed, this,
        [this](const QString& label, const QString& reason) {
            postToMainOrNow([this, label, reason] {
                for (auto& [name, p] : ports_) {
                    if (turns_.holds(name)) {
                        p->volumes->tellFailed(label, reason);
                    }
                }
            });
        },
        Qt::DirectConnection);
    if (const Result<void> started = watcher->start(); !started.ok()) {
        logLine("station: cannot watch drives: " + escapeForLog(started.error));
    }
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
    p->inhibitor = std::make_unique<SharedInhibitor::Share>(*inhibitor_);
    p->platform.sleepInhibitor = p->inhibitor.get();
    if (!platform_.pendingDir.empty()) {
        p->platform.pendingDir = platform_.pendingDir + "/" + folderName(name);
    }
    PortRouter* router = router_.get();
    p->platform.hidMonitorFactory = [router, name](const std::vector<HIDMonitorData>&, int) {
        auto monitor = std::make_unique<PortMonitor>();
        router->bind(name, monitor.get());
        return std::unique_ptr<HidMonitor>(std::move(monitor));
    };
    p->platform.awaitBootloaderTurn = [this, name] { return turns_.await(name); };
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

}  // namespace tarvo
