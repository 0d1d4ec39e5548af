#include "sim/sim_volume_watcher.h"

#include <QString>
#include <QVariantMap>

namespace tarvo::sim {

SimVolumeWatcher::~SimVolumeWatcher() {
    stop();
}

Result<void> SimVolumeWatcher::start() {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!running_) {
        running_ = true;
        atStart_ = mounted_;
        thread_ = std::thread([this] { run(); });
    }
    return Result<void>::success();
}

std::vector<QVariantMap> SimVolumeWatcher::mountedAtStart() const {
    std::lock_guard<std::mutex> hold(mutex_);
    std::vector<QVariantMap> out;
    for (const auto& [path, drive] : atStart_) {
        out.push_back(info(path, drive));
    }
    return out;
}

void SimVolumeWatcher::stop() {
    std::thread finished;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        running_ = false;
        events_.clear();
        finished = std::move(thread_);
    }
    wake_.notify_all();
    if (finished.joinable()) {
        // A handler that stops its own watcher cannot join itself.
        if (finished.get_id() == std::this_thread::get_id()) {
            finished.detach();
        } else {
            finished.join();
        }
    }
    delivered_.notify_all();
}

QVariantMap SimVolumeWatcher::info(const std::string& path, const Drive& drive) {
    QVariantMap info{{QString::fromLatin1(kVolumePathKey), QString::fromStdString(path)},
                     {QString::fromLatin1(kVolumeBusKey), QStringLiteral("usb")}};
    if (!drive.label.empty()) {
        info.insert(QString::fromLatin1(kVolumeLabelKey), QString::fromStdString(drive.label));
    }
    if (!drive.usbPort.empty()) {
        info.insert(QString::fromLatin1(kVolumeUsbPortKey), QString::fromStdString(drive.usbPort));
    }
    return info;
}

void SimVolumeWatcher::announceMount(const std::string& path, const std::string& label,
                                     const std::string& usbPort) {
    announce(true, path, Drive{label, usbPort});
}

void SimVolumeWatcher::announceUnmount(const std::string& path, const std::string& label,
                                       const std::string& usbPort) {
    announce(false, path, Drive{label, usbPort});
}

void SimVolumeWatcher::announce(bool mounted, const std::string& path, Drive drive) {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (mounted) {
            mounted_[path] = drive;
        } else {
            mounted_.erase(path);
        }
        if (!running_) {
            return;
        }
        events_.push_back(Event{mounted, path, std::move(drive)});
    }
    wake_.notify_one();
}

bool SimVolumeWatcher::waitUntilDelivered(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> hold(mutex_);
    return delivered_.wait_for(hold, timeout, [this] { return events_.empty() && !delivering_; });
}

void SimVolumeWatcher::run() {
    std::unique_lock<std::mutex> hold(mutex_);
    for (;;) {
        wake_.wait(hold, [this] { return !running_ || !events_.empty(); });
        if (!running_) {
            return;
        }
        Event event = std::move(events_.front());
        events_.pop_front();
        delivering_ = true;
        hold.unlock();

        const QVariantMap note = info(event.path, event.drive);
        if (event.mounted) {
            emit didMount(note);
        } else {
            emit didUnmount(note);
        }

        hold.lock();
        delivering_ = false;
        delivered_.notify_all();
    }
}

}  // namespace tarvo::sim
