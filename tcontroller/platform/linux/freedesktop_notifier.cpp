#include "tcontroller/platform/linux/freedesktop_notifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QStringList>

#include "tcontroller/base/log.h"

namespace tarvo {

void FreedesktopNotifier::notify(const DesktopNotification& notification) {
    if (!bus_.isConnected()) {
        if (!*complained_) {
            *complained_ = true;
            logLine("cannot notify the desktop: no session bus");
        }
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QVariantMap hints{
        {QStringLiteral("desktop-entry"), appId_},
        // 1 normal, 2 critical: a failure stays until it is read.
        {QStringLiteral("urgency"), QVariant::fromValue<uchar>(notification.failure ? 2 : 1)}};
    call << appName_ << 0u << appId_ << QString::fromStdString(notification.summary)
         << QString::fromStdString(notification.body) << QStringList() << hints << -1;
    // The answer is only looked at to log a missing server once; the window
    // has already said the same, so nothing waits for it.
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call));
    QObject::connect(pending, &QDBusPendingCallWatcher::finished,
                     [complained = complained_](QDBusPendingCallWatcher* done) {
                         if (done->isError() && !*complained) {
                             *complained = true;
                             logLine("cannot notify the desktop: " +
                                     escapeForLog(done->error().message().toStdString()));
                         }
                         done->deleteLater();
                     });
}

}  // namespace tarvo
