#pragma once

#include <QObject>
#include <QVariant>
#include <string>
#include <vector>

#include "tcontroller/base/result.h"

namespace tarvo {

// Reports volumes that are mounted and unmounted. Signals are emitted on the
// watcher's own thread; the object is a QVariantMap {"NSDevicePath": QString}
// holding the mount point as the user sees it (escapes already decoded).
class VolumeWatcher : public QObject {
    Q_OBJECT
  public:
    ~VolumeWatcher() override = default;
    // Begins watching on a thread of the watcher's own; returns at once.
    // Returns false when the watch cannot be set up.
    virtual Result<void> start() = 0;
    virtual void stop() = 0;
    // The volumes that were already mounted when start() began watching; they
    // are never reported as mounted by a signal.
    virtual std::vector<std::string> mountedAtStart() const = 0;

  signals:
    void didMount(const QVariant& userInfo);
    void didUnmount(const QVariant& userInfo);
};

}  // namespace tarvo
