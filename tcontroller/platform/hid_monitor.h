#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tcontroller/base/result.h"

namespace tarvo {

// Which devices a monitor watches for.
struct HIDMonitorData {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
};

// Output report type of the platform's set-report call.
inline constexpr int kHIDReportTypeOutput = 1;

// The code the "write spend" line of the log shows for a report write: 0 when
// it succeeded, else the error code the platform's set-report call has always
// returned for a device that is gone or refused the write, so the line reads
// as it always did. The cause of a failure goes on a line of its own.
inline constexpr unsigned kWriteCodeSuccess = 0;
inline constexpr unsigned kWriteCodeFailed = 0xE00002BCu;
inline unsigned writeCode(const Result<void>& written) {
    return written.ok() ? kWriteCodeSuccess : kWriteCodeFailed;
}

// The device record of an attached controller. It owns the platform handle; the
// record is shared (std::shared_ptr), so a writer that took it before a detach
// keeps a valid handle until its write returns.
class HIDDevice {
  public:
    virtual ~HIDDevice() = default;
    // Writes one output report: `bytes` is the report's payload (the whole frame),
    // `reportId` the report ID argument of the platform call. Succeeds once the
    // report has been handed to the operating system; a failure says why (the
    // system's error text, the device named in front). Safe to call from any
    // thread.
    virtual Result<void> setReport(int reportType, std::uint8_t reportId, const std::uint8_t* bytes,
                                   std::size_t length) = 0;
    // A stable name for logs (the device node, or the simulator's name).
    virtual std::string name() const = 0;
    // The USB port the device is plugged into, as the kernel names it
    // ("1-1.2": bus 1, port 2 of the hub on port 1; see usb_port.h); empty
    // when unknown. The same socket gives the same port after a replug.
    virtual std::string port() const { return {}; }
};
using HIDDevicePtr = std::shared_ptr<HIDDevice>;

// Watches the bus for HID devices matching its filters. Notifications are Qt
// signals emitted on the monitor's own thread (the one that called start()):
//   HIDDeviceConnected:    the record of a device that was attached
//   HIDDeviceDisconnected: the record of a device that has gone (once per record)
//   HIDDeviceDataReceived: one input report and the record of the device that
//                          sent it, in arrival order
// A matching device already attached when start() begins is reported connected.
class HidMonitor : public QObject {
    Q_OBJECT
  public:
    ~HidMonitor() override = default;
    // Runs the watch loop on the calling thread; returns only after stop().
    virtual void start() = 0;
    // Ends the watch loop; safe from any thread, also before start().
    virtual void stop() = 0;

  signals:
    void HIDDeviceConnected(const tarvo::HIDDevicePtr& device);
    void HIDDeviceDisconnected(const tarvo::HIDDevicePtr& device);
    void HIDDeviceDataReceived(const tarvo::HIDDevicePtr& device, const QByteArray& data);
    // The monitor cannot watch the bus, wholly or for devices being plugged
    // in; `reason` says why, for the log. Emitted at most once, on the
    // monitor's thread; start() may still run (and report what is attached).
    void HIDMonitorFailed(const QString& reason);
};

using HidMonitorFactory =
    std::function<std::unique_ptr<HidMonitor>(const std::vector<HIDMonitorData>&, int reportSize)>;

}  // namespace tarvo

Q_DECLARE_METATYPE(tarvo::HIDDevicePtr)
