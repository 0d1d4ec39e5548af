#pragma once

// What the station hands each controller's engine in place of the platform's
// own services: a monitor of its port's reports, the drives of its port, and
// a share of one sleep inhibition.
#include <QByteArray>
#include <QString>
#include <QVariant>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <variant>
#include <vector>

#include "tcontroller/platform/hid_monitor.h"
#include "tcontroller/platform/sleep_inhibitor.h"
#include "tcontroller/platform/volume_watcher.h"

namespace tarvo::station_ports {

// The monitor an engine is given: the reports of its own port only, as the
// station's one monitor delivers them. Events delivered before the engine
// starts it are kept and handed over, in order, when it starts.
class PortMonitor : public HidMonitor {
  public:
    struct Connected {
        HIDDevicePtr device;
    };
    struct Disconnected {
        HIDDevicePtr device;
    };
    struct Data {
        HIDDevicePtr device;
        QByteArray bytes;
    };
    struct Failed {
        QString reason;
    };
    using Event = std::variant<Connected, Disconnected, Data, Failed>;

    // Called on the station monitor's thread.
    void deliver(Event event) {
        std::lock_guard<std::mutex> hold(lock_);
        if (!started_) {
            waiting_.push_back(std::move(event));
            return;
        }
        emitEvent(event);
    }
    void start() override {
        std::unique_lock<std::mutex> hold(lock_);
        started_ = true;
        while (!waiting_.empty()) {
            const Event event = std::move(waiting_.front());
            waiting_.pop_front();
            emitEvent(event);
        }
        stopped_.wait(hold, [this] { return stopping_; });
        started_ = false;
    }
    void stop() override {
        std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
        stopped_.notify_all();
    }

  private:
    // lock_ held: the engine takes its port's events in the order they came.
    void emitEvent(const Event& event) {
        if (const auto* connected = std::get_if<Connected>(&event)) {
            emit HIDDeviceConnected(connected->device);
        } else if (const auto* gone = std::get_if<Disconnected>(&event)) {
            emit HIDDeviceDisconnected(gone->device);
        } else if (const auto* data = std::get_if<Data>(&event)) {
            emit HIDDeviceDataReceived(data->device, data->bytes);
        } else if (const auto* failed = std::get_if<Failed>(&event)) {
            emit HIDMonitorFailed(failed->reason);
        }
    }

    std::mutex lock_;
    std::condition_variable stopped_;
    std::deque<Event> waiting_;
    bool started_ = false;
    bool stopping_ = false;
};

// The drives an engine is told of: those on its own port, and those whose
// port the platform cannot tell while its controller holds the bootloader
// stage. The station's one watcher does the watching.
class PortVolumes : public VolumeWatcher {
  public:
    Result<void> start() override { return Result<void>::success(); }
    void stop() override {}
    std::vector<QVariantMap> mountedAtStart() const override { return atStart; }
    void tellMounted(const QVariant& info) { emit didMount(info); }
    void tellUnmounted(const QVariant& info) { emit didUnmount(info); }
    void tellFailed(const QString& label, const QString& reason) {
        emit mountFailed(label, reason);
    }

    std::vector<QVariantMap> atStart;
};

// One sleep inhibition for all the engines: taken while any holds its share.
class SharedInhibitor {
  public:
    explicit SharedInhibitor(SleepInhibitor* system) : system_(system) {}
    class Share : public SleepInhibitor {
      public:
        explicit Share(SharedInhibitor& shared) : shared_(shared) {}
        ~Share() override { release(); }
        Result<void> inhibit() override {
            std::lock_guard<std::mutex> hold(shared_.lock_);
            if (held_) {
                return Result<void>::success();
            }
            held_ = true;
            if (shared_.holders_++ == 0 && shared_.system_ != nullptr) {
                return shared_.system_->inhibit();
            }
            return Result<void>::success();
        }
        void release() override {
            std::lock_guard<std::mutex> hold(shared_.lock_);
            if (!held_) {
                return;
            }
            held_ = false;
            if (--shared_.holders_ == 0 && shared_.system_ != nullptr) {
                shared_.system_->release();
            }
        }
        bool held() const override {
            std::lock_guard<std::mutex> hold(shared_.lock_);
            return held_;
        }

      private:
        SharedInhibitor& shared_;
        bool held_ = false;
    };

  private:
    SleepInhibitor* system_;
    mutable std::mutex lock_;
    int holders_ = 0;
};

}  // namespace tarvo::station_ports
