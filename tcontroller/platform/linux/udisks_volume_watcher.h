#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QEventLoop>
#include <chrono>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tcontroller/platform/volume_watcher.h"

namespace tarvo {

class UDisksVolumeWatcher;

// Lives on the watcher's thread and receives the bus's signals there.
class UDisksAgent : public QObject {
    Q_OBJECT
  public:
    explicit UDisksAgent(UDisksVolumeWatcher* watcher) : watcher_(watcher) {}

  public slots:
    void changed(const QDBusMessage& message);

  private:
    UDisksVolumeWatcher* watcher_;
};

// Finds volumes by filesystem label through the UDisks2 service: a USB drive
// whose filesystem carries the label is reported at every mount point UDisks
// lists for it, wherever the desktop (or a user by hand) mounted it. When such
// a drive appears and nothing mounts it within `mountAfter`, the watcher asks
// UDisks to mount it (interactive authorisation allowed) and reports the
// result; a refusal is reported by mountFailed().
//
// Notifications carry {"NSDevicePath": mount point, "VolumeLabel": label,
// "VolumeBus": "usb", "usbPort": the drive's USB port, read from sysfs (empty
// when it cannot be read)}.
// Signals are emitted on the watcher's own thread, which runs the D-Bus
// handlers.
class UDisksVolumeWatcher final : public VolumeWatcher {
    Q_OBJECT
  public:
    struct Options {
        std::string label;
        std::chrono::milliseconds mountAfter{3000};
        // How long a mount request may wait, a password prompt included.
        std::chrono::milliseconds mountTimeout{std::chrono::minutes(5)};
        // Where sysfs is mounted: the drives' USB ports are read there.
        std::string sysfsRoot = "/sys";
    };

    UDisksVolumeWatcher(QDBusConnection bus, Options options);
    ~UDisksVolumeWatcher() override;  // stops

    // Fails when the bus is not connected or UDisks does not answer.
    Result<void> start() override;
    void stop() override;
    std::vector<QVariantMap> mountedAtStart() const override;

  private:
    friend class UDisksAgent;
    // One labelled filesystem (by object path): where it is mounted and the
    // USB port of its drive (empty when unknown).
    struct Volume {
        std::vector<std::string> mountPoints;
        std::string usbPort;
    };
    using Table = std::map<std::string, Volume>;
    // Mount points and the USB port of the drive mounted there.
    using Points = std::map<std::string, std::string>;
    static Points pointsOf(const Table& table);

    // The watcher's thread: subscribes to UDisks' signals, says whether that
    // worked, and runs an event loop until stop().
    void run(std::promise<bool>& subscribed);
    // Reads the drives again and reports the mount points that came and went.
    void tableChanged();
    // Mounts `object` when it is still there and still not mounted.
    void mountIfStillUnmounted(const std::string& object);
    void mountAnswered(const QString& error, const QString& path);
    // Schedules the mount of every drive that is new and unmounted.
    void scheduleMounts(const Table& table);
    Result<Table> readTable() const;
    QVariantMap info(const std::string& mountPoint, const std::string& usbPort) const;

    QDBusConnection bus_;
    Options options_;
    std::thread thread_;

    mutable std::mutex mutex_;
    Table table_;
    Points atStart_;
    // Drives seen unmounted whose mount is scheduled or was asked for: each is
    // mounted at most once while it stays attached.
    std::set<std::string> mountAsked_;
    // The watcher thread's agent and event loop while it runs.
    UDisksAgent* agent_ = nullptr;
    QEventLoop* loop_ = nullptr;
};

}  // namespace tarvo
