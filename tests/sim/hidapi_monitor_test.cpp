#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "harness.h"
#include "support/test_support.h"
#include "tcontroller/platform/linux/hidapi_monitor.h"

namespace tarvo {
namespace {

using namespace std::chrono_literals;

// A HID bus in memory behind the monitor's backend: devices by node, what
// their reads return next, every write, and the hot-plug events announced.
class FakeBus final : public HidBackend, public std::enable_shared_from_this<FakeBus> {
  public:
    ~FakeBus() override { ::close(hotplugFd_); }

    void attach(const std::string& node) {
        std::lock_guard<std::mutex> hold(mutex_);
        devices_[node].present = true;
    }
    // The node leaves the bus; its open handles fail from now on.
    void detach(const std::string& node) {
        std::lock_guard<std::mutex> hold(mutex_);
        devices_[node].present = false;
        changed_.notify_all();
    }
    // The USB port the node's device is plugged into.
    void setPort(const std::string& node, std::string port) {
        std::lock_guard<std::mutex> hold(mutex_);
        devices_[node].port = std::move(port);
    }
    // Opens of the node fail with `error` (0: succeed).
    void refuseOpens(const std::string& node, int error) {
        std::lock_guard<std::mutex> hold(mutex_);
        devices_[node].openError = error;
    }
    // A hot-plug event, as udev would send it after the change.
    void announce(const std::string& action, const std::string& node) {
        {
            std::lock_guard<std::mutex> hold(mutex_);
            events_.push_back({action, node});
        }
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(hotplugFd_, &one, sizeof one);
    }
    // The node's next read returns `report`, or fails.
    void feed(const std::string& node, Bytes report) { script(node, {false, std::move(report)}); }
    void failNextRead(const std::string& node) { script(node, {true, {}}); }
    // Reads that wait without end return (failed), so a hung monitor can be joined.
    void releaseBlockedReads() {
        std::lock_guard<std::mutex> hold(mutex_);
        releaseBlocked_ = true;
        changed_.notify_all();
    }

    std::vector<Bytes> writes(const std::string& node) { return with(node).writes; }
    int openHandles(const std::string& node) { return with(node).openHandles; }

    Result<void> init() override { return Result<void>::success(); }
    // Every device on this bus is a controller.
    std::vector<std::string> enumerate(std::uint16_t, std::uint16_t) override {
        std::lock_guard<std::mutex> hold(mutex_);
        std::vector<std::string> nodes;
        for (const auto& [node, device] : devices_) {
            if (device.present) {
                nodes.push_back(node);
            }
        }
        return nodes;
    }
    HidOpened open(const std::string& node) override {
        std::lock_guard<std::mutex> hold(mutex_);
        Device& device = devices_[node];
        if (!device.present || device.openError != 0) {
            return {nullptr, device.present ? device.openError : ENOENT};
        }
        ++device.openHandles;
        return {std::make_unique<Handle>(shared_from_this(), node), 0};
    }
    std::string usbPort(const std::string& node) override { return with(node).port; }
    std::unique_ptr<HotplugWatch> watchHotplug() override {
        return std::make_unique<Watch>(shared_from_this());
    }

  private:
    struct Step {
        bool fail = false;
        Bytes report;
    };
    struct Device {
        bool present = false;
        int openError = 0;
        int openHandles = 0;
        std::string port;
        std::deque<Step> script;
        std::vector<Bytes> writes;
    };

    class Handle final : public HidHandle {
      public:
        Handle(std::shared_ptr<FakeBus> bus, std::string node)
            : bus_(std::move(bus)), node_(std::move(node)) {}
        ~Handle() override {
            std::lock_guard<std::mutex> hold(bus_->mutex_);
            --bus_->devices_[node_].openHandles;
        }
        Handle(const Handle&) = delete;
        Handle& operator=(const Handle&) = delete;

        // Waits for the next step of the script like hidraw waits for a
        // report: up to the timeout, or without end when it is negative.
        int read(std::uint8_t* buffer, std::size_t size, int timeoutMs) override {
            std::unique_lock<std::mutex> hold(bus_->mutex_);
            Device& device = bus_->devices_[node_];
            const auto ready = [&] { return !device.script.empty() || bus_->releaseBlocked_; };
            if (timeoutMs < 0) {
                bus_->changed_.wait(hold, ready);
            } else {
                bus_->changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs), ready);
            }
            if (device.script.empty()) {
                return bus_->releaseBlocked_ ? -1 : 0;
            }
            const Step step = std::move(device.script.front());
            device.script.pop_front();
            if (step.fail) {
                return -1;
            }
            const std::size_t length = std::min(size, step.report.size());
            std::memcpy(buffer, step.report.data(), length);
            return static_cast<int>(length);
        }
        Result<void> write(const std::uint8_t* report, std::size_t length) override {
            std::lock_guard<std::mutex> hold(bus_->mutex_);
            Device& device = bus_->devices_[node_];
            if (!device.present) {
                return Result<void>::failure(errnoText(ENODEV));
            }
            device.writes.emplace_back(report, report + length);
            return Result<void>::success();
        }

      private:
        const std::shared_ptr<FakeBus> bus_;
        const std::string node_;
    };

    class Watch final : public HotplugWatch {
      public:
        explicit Watch(std::shared_ptr<FakeBus> bus) : bus_(std::move(bus)) {}
        int fd() const override { return bus_->hotplugFd_; }
        std::vector<HotplugEvent> receive() override {
            std::uint64_t count = 0;
            [[maybe_unused]] auto n = ::read(bus_->hotplugFd_, &count, sizeof count);
            std::lock_guard<std::mutex> hold(bus_->mutex_);
            return std::exchange(bus_->events_, {});
        }

      private:
        const std::shared_ptr<FakeBus> bus_;
    };

    // A copy of the node's record.
    Device with(const std::string& node) {
        std::lock_guard<std::mutex> hold(mutex_);
        return devices_[node];
    }
    void script(const std::string& node, Step step) {
        std::lock_guard<std::mutex> hold(mutex_);
        devices_[node].script.push_back(std::move(step));
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, Device> devices_;
    std::vector<HotplugEvent> events_;
    bool releaseBlocked_ = false;
    const int hotplugFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
};

const std::string kNode = "/dev/hidraw7";

// The monitor on a FakeBus, its loop on a thread of its own, every
// notification recorded as the tool would see it.
class MonitorRun {
  public:
    MonitorRun() : monitor(made()), events(*monitor) {}
    ~MonitorRun() {
        if (!stopAndJoin()) {
            ADD_FAILURE() << "the monitor's loop did not end after stop()";
        }
    }
    MonitorRun(const MonitorRun&) = delete;
    MonitorRun& operator=(const MonitorRun&) = delete;

    void start() {
        loop_ = std::thread([this] {
            monitor->start();
            returned_ = true;
        });
    }
    // stop(), then waits for start() to return. False when it has not by the
    // deadline: the bus then lets every blocked read fail, so the thread ends.
    bool stopAndJoin() {
        if (!loop_.joinable()) {
            return true;
        }
        monitor->stop();
        const bool returned = eventually([this] { return returned_.load(); });
        if (!returned) {
            bus->releaseBlockedReads();
        }
        loop_.join();
        return returned;
    }
    HIDDevicePtr connected(std::size_t index) const {
        return events.of(Event::connected).at(index).device;
    }
    // The controller at kNode attached and the loop started: its record.
    HIDDevicePtr startWithController() {
        bus->attach(kNode);
        start();
        return events.waitFor(Event::connected, 1) ? connected(0) : nullptr;
    }

    const std::shared_ptr<FakeBus> bus = std::make_shared<FakeBus>();
    std::unique_ptr<HidapiMonitor> monitor;
    HidEvents events;

  private:
    std::unique_ptr<HidapiMonitor> made() {
        auto made = HidapiMonitor::create({{0xC251, 0x2201}}, 64, bus);
        EXPECT_TRUE(made.ok()) << made.error;
        return std::move(*made.value);
    }
    std::atomic<bool> returned_{false};
    std::thread loop_;
};

Bytes report(std::uint8_t first, std::size_t length = 64) {
    Bytes r(length, 0x00);
    for (std::size_t i = 0; i < length; ++i) {
        r[i] = static_cast<std::uint8_t>(first + i);
    }
    return r;
}

TEST(HidapiMonitor, ReportsTheAttachedControllerItsReportsInOrderAndWritesWholeFrames) {
    MonitorRun run;
    run.bus->setPort(kNode, "3-2.1");
    const HIDDevicePtr device = run.startWithController();
    ASSERT_TRUE(device);
    EXPECT_EQ(device->name(), kNode);
    EXPECT_EQ(device->port(), "3-2.1");

    run.bus->feed(kNode, report(0x10));
    run.bus->feed(kNode, report(0x20, 10));
    run.bus->feed(kNode, report(0x30));
    ASSERT_TRUE(run.events.waitFor(Event::data, 3));
    std::vector<Bytes> received;
    for (const auto& d : run.events.of(Event::data)) {
        received.push_back(d.bytes);
        EXPECT_EQ(d.device, device);  // each report with the record of its sender
        // Every notification comes from the loop's thread, never a reader's.
        EXPECT_EQ(d.thread, run.events.of(Event::connected)[0].thread);
    }
    EXPECT_EQ(received, (std::vector<Bytes>{report(0x10), report(0x20, 10), report(0x30)}));

    // On the wire: report number 0, then the frame as it is, with no padding.
    const Bytes command = {0xA9, 0x04, 0x01, 0x00, 0x9E, 0x5D, 0x5C};
    ASSERT_TRUE(send(device, command).ok());
    ASSERT_TRUE(send(device, report(0xA9)).ok());
    const auto onWire = [](Bytes frame) {
        frame.insert(frame.begin(), 0x00);
        return frame;
    };
    EXPECT_EQ(run.bus->writes(kNode), (std::vector<Bytes>{onWire(command), onWire(report(0xA9))}));
    EXPECT_FALSE(device->setReport(2, 1, command.data(), command.size()).ok());
    EXPECT_EQ(run.bus->writes(kNode).size(), 2u);

    // Stopping closes both handles without a disconnect: the device did not go.
    ASSERT_TRUE(run.stopAndJoin());
    EXPECT_EQ(run.bus->openHandles(kNode), 0);
    EXPECT_TRUE(run.events.of(Event::disconnected).empty());
    EXPECT_EQ(run.events.of(Event::connected).size(), 1u);
}

// A failed read is the device going away, often before udev says so: the
// record is released and the tool told once, also when udev's remove follows.
TEST(HidapiMonitor, AReadErrorReleasesTheDeviceWithOneDisconnect) {
    MonitorRun run;
    const HIDDevicePtr device = run.startWithController();
    ASSERT_TRUE(device);

    run.bus->failNextRead(kNode);
    ASSERT_TRUE(run.events.waitFor(Event::disconnected, 1));
    EXPECT_EQ(run.events.of(Event::disconnected)[0].device, device);
    EXPECT_EQ(run.bus->openHandles(kNode), 0);
    const Result<void> late = send(device, {0xA9, 0x04, 0x01, 0x00, 0x9E, 0x5D, 0x5C});
    EXPECT_FALSE(late.ok());
    EXPECT_EQ(late.error, kNode + ": the device has been detached");
    EXPECT_TRUE(run.bus->writes(kNode).empty());

    // udev's remove comes after; the next plug-in shows it was handled.
    run.bus->detach(kNode);
    run.bus->announce("remove", kNode);
    run.bus->attach("/dev/hidraw8");
    run.bus->announce("add", "/dev/hidraw8");
    ASSERT_TRUE(run.events.waitFor(Event::connected, 2));
    EXPECT_EQ(run.connected(1)->name(), "/dev/hidraw8");
    EXPECT_EQ(run.events.of(Event::disconnected).size(), 1u);
}

TEST(HidapiMonitor, UnplugReplugAndWritesThroughTheOldRecord) {
    test::LogCapture log;
    MonitorRun run;
    const HIDDevicePtr first = run.startWithController();
    ASSERT_TRUE(first);
    const Bytes frame = {0xA9, 0x04, 0x01, 0x00, 0x9E, 0x5D, 0x5C};

    // Gone before udev said so: the system's error, with the node in front.
    run.bus->detach(kNode);
    Result<void> written = send(first, frame);
    EXPECT_FALSE(written.ok());
    EXPECT_EQ(written.error, kNode + ": " + errnoText(ENODEV));

    run.bus->announce("remove", kNode);
    ASSERT_TRUE(run.events.waitFor(Event::disconnected, 1));
    EXPECT_EQ(run.events.of(Event::disconnected)[0].device, first);
    written = send(first, frame);
    EXPECT_FALSE(written.ok());
    EXPECT_EQ(written.error, kNode + ": the device has been detached");

    // Back at the same node, but not yet accessible: logged, then opened once
    // udev applied the permissions (a "change" event).
    run.bus->attach(kNode);
    run.bus->refuseOpens(kNode, EACCES);
    run.bus->announce("add", kNode);
    ASSERT_TRUE(eventually([&] {
        return log.contains("cannot open HID device " + kNode +
                            ": permission denied (is the udev rule installed?)");
    }));
    run.bus->refuseOpens(kNode, 0);
    run.bus->announce("change", kNode);
    ASSERT_TRUE(run.events.waitFor(Event::connected, 2));
    const HIDDevicePtr second = run.connected(1);
    EXPECT_NE(second, first);
    EXPECT_FALSE(send(first, frame).ok());
    EXPECT_TRUE(send(second, frame).ok());
    EXPECT_EQ(run.bus->writes(kNode).size(), 1u);
}

}  // namespace
}  // namespace tarvo
