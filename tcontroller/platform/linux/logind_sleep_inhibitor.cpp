#include "tcontroller/platform/linux/logind_sleep_inhibitor.h"

#include <QDBusMessage>

namespace tarvo {
namespace {
// A refusal must not hold up the erase for long.
constexpr int kCallTimeoutMs = 3000;
}  // namespace

Result<void> LogindSleepInhibitor::inhibit() {
    std::lock_guard<std::mutex> hold(mutex_);
    if (lock_.isValid()) {
        return Result<void>::success();
    }
    if (!bus_.isConnected()) {
        return Result<void>::failure("no system bus: " + bus_.lastError().message().toStdString());
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:shutdown:idle") << QStringLiteral("Tarvo Remote Firmware Update")
         << QStringLiteral("Updating the controller's firmware") << QStringLiteral("block");
    const QDBusMessage reply = bus_.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1 ||
        reply.arguments().front().metaType() != QMetaType::fromType<QDBusUnixFileDescriptor>()) {
        return Result<void>::failure("the login manager refused: " +
                                     reply.errorMessage().toStdString());
    }
    lock_ = reply.arguments().front().value<QDBusUnixFileDescriptor>();
    if (!lock_.isValid()) {
        return Result<void>::failure("the login manager sent no lock");
    }
    return Result<void>::success();
}

void LogindSleepInhibitor::release() {
    std::lock_guard<std::mutex> hold(mutex_);
    // Dropping the last copy of the descriptor closes it, which ends the lock.
    lock_ = QDBusUnixFileDescriptor();
}

bool LogindSleepInhibitor::held() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return lock_.isValid();
}

}  // namespace tarvo
