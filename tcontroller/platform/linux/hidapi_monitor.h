#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tcontroller/base/bytes.h"
#include "tcontroller/base/result.h"
#include "tcontroller/platform/hid_monitor.h"
#include "tcontroller/platform/linux/hid_backend.h"

namespace tarvo {

// One attached controller, as handed to the tool. Writes go through a handle
// held by shared ownership: a write that took the handle before the device was
// detached keeps it open until the write returns.
class HidapiDevice final : public HIDDevice {
  public:
    // `port`: the USB port the device is plugged into, empty when unknown.
    HidapiDevice(std::string path, std::string port, std::shared_ptr<HidHandle> handle);

    // The controller uses no numbered reports, so on the wire the report number
    // is 0: the handle is given one leading 00 byte followed by the whole frame,
    // with no padding to the report size. `reportId` (the frame's byte 2) stays
    // in the signature of the platform call but does not reach the wire. Only
    // output reports are supported. Fails, saying why, unless the handle took
    // the whole report (also after the device was detached).
    Result<void> setReport(int reportType, std::uint8_t reportId, const std::uint8_t* bytes,
                           std::size_t length) override;
    // The hidraw device node, e.g. "/dev/hidraw3".
    std::string name() const override { return path_; }
    // As read from sysfs when the device was opened, e.g. "1-1.2".
    std::string port() const override { return port_; }

    // The device has gone: later writes fail; the handle closes once the last
    // write in progress has returned.
    void detach();

  private:
    Result<void> fail(const std::string& why) const;

    const std::string path_;
    const std::string port_;
    std::mutex stateMutex_;  // guards handle_
    std::shared_ptr<HidHandle> handle_;
    std::mutex writeMutex_;  // one call per handle at a time
};

// Watches the HID bus through a HidBackend (the system's: hidapi's hidraw
// backend and libudev).
//
// start() runs on the calling thread until stop(): it enumerates matching
// devices (reporting those already attached as connected), then sleeps in
// poll() on the hot-plug watch of the "hidraw" subsystem, an eventfd for stop()
// and an eventfd for input reports. Each open device has a reader thread of its
// own (hidapi offers no descriptor to poll) that reads with a 250 ms timeout,
// so stop() never waits on a silent device for longer than that, and hands
// every input report to the monitor thread through a queue. So all three
// notifications — connected, disconnected and data — are emitted on the thread
// that called start(), data in arrival order; a reply can never be handled
// while the tool's connect handler is still running on that thread.
//
// Each device is opened twice: one handle for writes (in the HidapiDevice
// record) and one for the reader thread, because hidapi's per-handle state is
// not safe for a read and a write at the same time.
class HidapiMonitor final : public HidMonitor {
    Q_OBJECT
  public:
    using HotplugOpener = tarvo::HotplugOpener;

    // A monitor for devices matching `filters`, through `backend` (null: the
    // system's). Fails, saying why, when its wake-up descriptors cannot be made.
    static Result<std::unique_ptr<HidapiMonitor>> create(std::vector<HIDMonitorData> filters,
                                                         int reportSize,
                                                         std::shared_ptr<HidBackend> backend = {});
    ~HidapiMonitor() override;
    HidapiMonitor(const HidapiMonitor&) = delete;
    HidapiMonitor& operator=(const HidapiMonitor&) = delete;

    void start() override;
    void stop() override;

  private:
    struct Held;
    struct Input {
        std::shared_ptr<HidapiDevice> device;
        Bytes data;
        bool failed = false;  // the read failed: the device has gone
    };

    HidapiMonitor(std::vector<HIDMonitorData> filters, int reportSize,
                  std::shared_ptr<HidBackend> backend, int stopFd, int inputFd);

    void reconcile();
    void open(const std::string& path);
    void release(const std::string& path, bool notify);
    void deliverInput();
    void handleHotplugEvents(HotplugWatch& watch);
    void watch(HotplugWatch* hotplug);
    void readLoop(Held* held);
    bool waitForStop(int milliseconds);

    const std::vector<HIDMonitorData> filters_;
    const std::size_t reportSize_;
    const std::shared_ptr<HidBackend> backend_;
    const int stopFd_;
    const int inputFd_;
    std::atomic<bool> stopRequested_{false};

    // Monitor thread only.
    std::map<std::string, std::unique_ptr<Held>> held_;
    std::set<std::string> unopenable_;

    std::mutex inputMutex_;
    std::deque<Input> input_;
};

// Builds the Linux HID monitor on the system's backend (`openHotplug` as
// hidapiBackend takes it). A monitor that cannot be made is logged and
// returned as null.
HidMonitorFactory hidapiMonitorFactory(HotplugOpener openHotplug = {});

}  // namespace tarvo
