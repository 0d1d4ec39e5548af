#pragma once

#include <QObject>
#include <QVariant>
#include <string>
#include <vector>

#include "tcontroller/base/result.h"

namespace tarvo {

// The keys of a volume notification's QVariantMap.
inline constexpr const char* kVolumePathKey = "NSDevicePath";
inline constexpr const char* kVolumeLabelKey = "VolumeLabel";
inline constexpr const char* kVolumeBusKey = "VolumeBus";
inline constexpr const char* kVolumeUsbPortKey = "usbPort";

// Reports volumes that are mounted and unmounted. Signals are emitted on the
// watcher's own thread; the object is a QVariantMap {"NSDevicePath": QString}
// holding the mount point as the user sees it (escapes already decoded). A
// watcher that knows the filesystem's label adds {"VolumeLabel": QString}, one
// that knows the bus of the drive {"VolumeBus": QString} ("usb"), one that
// knows the USB port the drive is plugged into {"usbPort": QString} ("1-1.2",
// as HIDDevice::port() names it; absent or empty when unknown).
class VolumeWatcher : public QObject {
    Q_OBJECT
  public:
    ~VolumeWatcher() override = default;
    // Begins watching on a thread of the watcher's own; returns at once.
    // Fails, saying why, when the watch cannot be set up.
    virtual Result<void> start() = 0;
    virtual void stop() = 0;
    // The volumes that were already mounted when start() began watching, each
    // as a notification's map; they are never reported as mounted by a signal.
    virtual std::vector<QVariantMap> mountedAtStart() const = 0;

  signals:
    void didMount(const QVariant& userInfo);
    void didUnmount(const QVariant& userInfo);
    // A volume the watcher tried to mount could not be mounted; `label` is its
    // filesystem label, `reason` the system's answer.
    void mountFailed(const QString& label, const QString& reason);
};

}  // namespace tarvo
