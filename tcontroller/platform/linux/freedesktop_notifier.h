#pragma once

#include <QDBusConnection>
#include <QString>
#include <memory>

#include "tcontroller/platform/desktop_notifier.h"

namespace tarvo {

// Notifications through the desktop's notification server on the session
// bus, with the application's icon and desktop entry. A missing server is
// logged once; nothing waits for its answer.
class FreedesktopNotifier final : public DesktopNotifier {
  public:
    // `appId` names the icon and the desktop entry, `appName` the sender.
    FreedesktopNotifier(QDBusConnection bus, QString appName, QString appId)
        : bus_(std::move(bus)), appName_(std::move(appName)), appId_(std::move(appId)) {}
    void notify(const DesktopNotification& notification) override;

  private:
    QDBusConnection bus_;
    QString appName_;
    QString appId_;
    // Shared with the answers still on their way, which may outlive this object.
    std::shared_ptr<bool> complained_ = std::make_shared<bool>(false);
};

}  // namespace tarvo
