#pragma once

#include <QObject>
#include <QString>
#include <QVariant>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarvo {

// Which devices a monitor watches for.
struct HIDMonitorData {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
};

// Output report type of the platform's set-report call.
inline constexpr int kHIDReportTypeOutput = 1;
// Return code of a successful set-report call; anything else is an error code.
inline constexpr int kHIDReturnSuccess = 0;
// Return code when the device is gone or the write was refused.
inline constexpr int kHIDReturnError = static_cast<int>(0xE00002BCu);

// The device record of an attached controller. It owns the platform handle; the
// record is shared (std::shared_ptr), so a writer that took it before a detach
// keeps a valid handle until its write returns.
class HIDDevice {
  public:
    virtual ~HIDDevice() = default;
    // Writes one output report: `bytes` is the report's payload (the whole frame),
    // `reportId` the report ID argument of the platform call. Returns
    // kHIDReturnSuccess once the report has been handed to the operating system,
    // or an error code. Safe to call from any thread.
    virtual int setReport(int reportType, std::uint8_t reportId, const std::uint8_t* bytes,
                          std::size_t length) = 0;
    // A stable name for logs (the device node, or the simulator's name).
    virtual std::string name() const = 0;
};
using HIDDevicePtr = std::shared_ptr<HIDDevice>;

// Watches the bus for HID devices matching its filters. Notifications are Qt
// signals emitted on the monitor's own thread (the one that called start()); the
// object is a QVariantMap:
//   HIDDeviceConnected:    {"device": HIDDevicePtr}
//   HIDDeviceDisconnected: {"device": HIDDevicePtr}
//   HIDDeviceDataReceived: {"data": QByteArray} (one input report, in arrival order)
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
    void HIDDeviceConnected(const QVariant& object);
    void HIDDeviceDisconnected(const QVariant& object);
    void HIDDeviceDataReceived(const QVariant& object);
    // The monitor cannot watch the bus, wholly or for devices being plugged
    // in; `reason` says why, for the log. Emitted at most once, on the
    // monitor's thread; start() may still run (and report what is attached).
    void HIDMonitorFailed(const QString& reason);
};

using HidMonitorFactory =
    std::function<std::unique_ptr<HidMonitor>(const std::vector<HIDMonitorData>&, int reportSize)>;

}  // namespace tarvo

Q_DECLARE_METATYPE(tarvo::HIDDevicePtr)
