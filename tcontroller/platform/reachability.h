#pragma once

#include <QObject>

#include "tcontroller/base/result.h"

namespace tarvo {

// General internet reachability. After startNotifier() succeeds, the monitor
// posts reachabilityChanged once with its current state, on the main thread,
// and again whenever the state changes, until stopNotifier().
class Reachability : public QObject {
    Q_OBJECT
  public:
    // In this order: no usable report, no network path, reachable over Wi-Fi
    // (on Linux: any non-cellular route), reachable over a cellular link.
    enum class Connection { none, unavailable, wifi, cellular };

    ~Reachability() override = default;
    // Returns false when the notifier cannot start.
    virtual Result<void> startNotifier() = 0;
    virtual void stopNotifier() = 0;
    virtual Connection connection() const = 0;
    // The state as it is at this moment, looked up afresh, also after
    // stopNotifier(): tells a failed download on a computer that has lost its
    // network from one whose server does not answer. Safe from any thread.
    virtual Connection connectionNow() const { return connection(); }

  signals:
    void reachabilityChanged(tarvo::Reachability* reachability);
};

}  // namespace tarvo
