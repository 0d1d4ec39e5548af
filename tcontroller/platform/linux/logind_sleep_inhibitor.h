#pragma once

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <mutex>

#include "tcontroller/platform/sleep_inhibitor.h"

namespace tarvo {

// A "block" inhibitor lock of the login manager on the system bus, for sleep,
// shutdown and idle. The lock lasts as long as its file descriptor is open;
// release() closes it.
class LogindSleepInhibitor final : public SleepInhibitor {
  public:
    explicit LogindSleepInhibitor(QDBusConnection bus) : bus_(std::move(bus)) {}
    ~LogindSleepInhibitor() override = default;  // closes the descriptor

    Result<void> inhibit() override;
    void release() override;
    bool held() const override;

  private:
    QDBusConnection bus_;
    mutable std::mutex mutex_;
    QDBusUnixFileDescriptor lock_;
};

}  // namespace tarvo
