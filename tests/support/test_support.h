#pragma once

// Shared helpers of the tests: a log capture, bounded waits that keep the Qt
// event loop running, and a volume watcher driven by the test and a recorder
// of what a watcher reports.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "tcontroller/base/guarded.h"
#include "tcontroller/base/log.h"
#include "tcontroller/platform/volume_watcher.h"

namespace tarvo::test {

// Collects the tool's log lines while alive.
class LogCapture {
  public:
    LogCapture() {
        setLogTap([this](const std::string& line) {
            lines_.mutate([&](auto& all) { all.push_back(line); });
        });
    }
    ~LogCapture() { setLogTap({}); }
    std::vector<std::string> lines() const { return lines_.get(); }
    int count(const std::string& line) const {
        const auto all = lines();
        return static_cast<int>(std::count(all.begin(), all.end(), line));
    }
    bool contains(const std::string& line) const { return count(line) > 0; }
    // The lines that start with a prefix, in order.
    std::vector<std::string> withPrefix(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& l : lines()) {
            if (l.rfind(prefix, 0) == 0) {
                out.push_back(l);
            }
        }
        return out;
    }
    // The position of `line` after position `from`, or -1.
    int indexOf(const std::string& line, int from = 0) const {
        const auto all = lines();
        for (int i = std::max(from, 0); i < static_cast<int>(all.size()); ++i) {
            if (all[i] == line) {
                return i;
            }
        }
        return -1;
    }
    void clear() { lines_.set({}); }

  private:
    Guarded<std::vector<std::string>> lines_;
};

// How long a test waits for work the code under test does (a transfer, a
// reply, a refresh) before it fails. A passing test stops waiting as soon as
// the work is done, so this only bounds a failing one: it leaves room for a
// sanitizer build on a busy machine and stays well inside ctest's limit.
inline constexpr int kWorkWaitMs = 60000;

// Runs the Qt event loop until `done` holds or `timeoutMs` passes; returns done().
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = kWorkWaitMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) {
            return done();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

// Runs the event loop for a while (lets queued work settle).
inline void pump(int ms = 50) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

// A volume watcher driven by the test.
class FakeVolumeWatcher : public VolumeWatcher {
  public:
    Result<void> start() override { return Result<void>::success(); }
    void stop() override {}
    std::vector<QVariantMap> mountedAtStart() const override { return {}; }
    // `bus`: the bus the watcher names for the drive, as UDisks does ("usb").
    void mount(const QString& path, const QString& bus = {}) {
        QVariantMap info{{"NSDevicePath", path}};
        if (!bus.isEmpty()) {
            info.insert(kVolumeBusKey, bus);
        }
        emit didMount(info);
    }
    void unmount(const QString& path) { emit didUnmount(QVariantMap{{"NSDevicePath", path}}); }
};

// What a volume watcher reports, taken on whichever thread it reports from:
// "mount PATH", "unmount PATH" and "failed LABEL: REASON". The reports are
// kept where the watcher's connections can still reach them after the
// recorder goes (a watcher that is still running may report an unmount then).
class VolumeEvents {
  public:
    explicit VolumeEvents(VolumeWatcher& watcher) {
        const auto on = [events = events_, &watcher](auto signal, const char* kind) {
            QObject::connect(
                &watcher, signal, &watcher,
                [events, kind](const QVariant& info) {
                    add(*events,
                        kind + info.toMap().value(kVolumePathKey).toString().toStdString());
                },
                Qt::DirectConnection);
        };
        on(&VolumeWatcher::didMount, "mount ");
        on(&VolumeWatcher::didUnmount, "unmount ");
        QObject::connect(
            &watcher, &VolumeWatcher::mountFailed, &watcher,
            [events = events_](const QString& label, const QString& reason) {
                add(*events, ("failed " + label + ": " + reason).toStdString());
            },
            Qt::DirectConnection);
    }
    std::vector<std::string> all() const { return events_->get(); }
    int count(const std::string& event) const {
        const auto events = all();
        return static_cast<int>(std::count(events.begin(), events.end(), event));
    }

  private:
    using Events = Guarded<std::vector<std::string>>;
    static void add(Events& events, const std::string& event) {
        events.mutate([&](auto& all) { all.push_back(event); });
    }
    std::shared_ptr<Events> events_ = std::make_shared<Events>();
};

}  // namespace tarvo::test
