#pragma once

// Shared helpers of the tests: a log capture, bounded waits that keep the Qt
// event loop running, and small platform doubles for services a test does not
// exercise.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tcontroller/base/bytes.h"
#include "tcontroller/base/log.h"
#include "tcontroller/platform/hid_monitor.h"
#include "tcontroller/platform/volume_watcher.h"

namespace tarvo::test {

// Collects the tool's log lines while alive.
class LogCapture {
  public:
    LogCapture() {
        setLogTap([this](const std::string& line) {
            std::lock_guard<std::mutex> hold(mutex_);
            lines_.push_back(line);
        });
    }
    ~LogCapture() { setLogTap({}); }
    std::vector<std::string> lines() const {
        std::lock_guard<std::mutex> hold(mutex_);
        return lines_;
    }
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
    void clear() {
        std::lock_guard<std::mutex> hold(mutex_);
        lines_.clear();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// The bytes a shared buffer holds (the window's image), absent for none.
inline std::optional<Bytes> bytesOf(const std::shared_ptr<const Bytes>& shared) {
    return shared ? std::optional<Bytes>(*shared) : std::nullopt;
}

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
    std::vector<QVariantMap> mountedAtStart() const override {
        std::vector<QVariantMap> out;
        for (const std::string& path : alreadyMounted) {
            out.push_back({{kVolumePathKey, QString::fromStdString(path)}});
        }
        return out;
    }
    std::vector<std::string> alreadyMounted;
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

// A device record that accepts (or refuses) every write and remembers them.
class RecordingDevice : public HIDDevice {
  public:
    Result<void> setReport(int, std::uint8_t, const std::uint8_t* bytes,
                           std::size_t length) override {
        std::lock_guard<std::mutex> hold(mutex_);
        writes_.emplace_back(bytes, bytes + length);
        return result_;
    }
    std::string name() const override { return "recording"; }
    void setResult(Result<void> r) {
        std::lock_guard<std::mutex> hold(mutex_);
        result_ = std::move(r);
    }
    std::vector<std::vector<std::uint8_t>> writes() const {
        std::lock_guard<std::mutex> hold(mutex_);
        return writes_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::vector<std::uint8_t>> writes_;
    Result<void> result_ = Result<void>::success();
};

}  // namespace tarvo::test
