#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tcontroller/base/result.h"

struct udev;
struct udev_monitor;

// The calls the HID monitor makes to the system: hidapi for the devices and
// udev for hot-plug events. The monitor holds its state machine (which device
// is open, which reader runs, what was reported); a backend only does I/O, so
// tests can serve scripted devices from memory in its place.
namespace tarvo {

// One open handle of a HID device node; destroying it closes the handle.
// The monitor never calls one handle from two threads at a time.
class HidHandle {
  public:
    virtual ~HidHandle() = default;
    // Reads one input report into `buffer`: its length, 0 when none arrived
    // within `timeoutMs` (negative: waits without end), or -1 when the read
    // failed (the device has gone).
    virtual int read(std::uint8_t* buffer, std::size_t size, int timeoutMs) = 0;
    // Writes one report, its report number first; fails unless it was taken whole.
    virtual Result<void> write(const std::uint8_t* report, std::size_t length) = 0;
};

// The outcome of opening a device node.
struct HidOpened {
    std::unique_ptr<HidHandle> handle;  // null when the open failed
    int error = 0;                      // errno of a failed open; 0 when the system gave none
};

// What the hot-plug watch saw of one device node.
struct HotplugEvent {
    std::string action;  // "add", "remove", "change", ...
    std::string node;    // the device node, e.g. "/dev/hidraw3"; may be empty
};

// A watch for HID devices being plugged in and out: its descriptor becomes
// readable when events wait.
class HotplugWatch {
  public:
    virtual ~HotplugWatch() = default;
    virtual int fd() const = 0;
    // Takes every event waiting, without blocking.
    virtual std::vector<HotplugEvent> receive() = 0;
};

class HidBackend {
  public:
    virtual ~HidBackend() = default;
    // Makes the library ready; the failure says why it cannot be used.
    virtual Result<void> init() = 0;
    // The device nodes of the attached HID devices with these IDs.
    virtual std::vector<std::string> enumerate(std::uint16_t vendorId, std::uint16_t productId) = 0;
    virtual HidOpened open(const std::string& path) = 0;
    // The USB port of the device at `path` (see HIDDevice::port); empty when
    // unknown.
    virtual std::string usbPort(const std::string& /*path*/) { return {}; }
    // Starts watching the hidraw subsystem; null when it cannot.
    virtual std::unique_ptr<HotplugWatch> watchHotplug() = 0;
};

// Opens the hot-plug watch on a udev context; null when it cannot. The
// default is udev's own netlink monitor.
using HotplugOpener = std::function<udev_monitor*(udev*)>;

// The system's backend: hidapi's hidraw backend and libudev.
std::shared_ptr<HidBackend> hidapiBackend(HotplugOpener openHotplug = {});

}  // namespace tarvo
