#include "tcontroller/platform/linux/launcher_entry.h"

#include <QDBusMessage>
#include <QVariantMap>
#include <algorithm>

namespace tarvo {

LauncherEntry::LauncherEntry(QDBusConnection bus, const QString& desktopId)
    : bus_(std::move(bus)), appUri_(QStringLiteral("application://%1.desktop").arg(desktopId)) {}

LauncherEntry::~LauncherEntry() {
    if (sent_ && sent_->visible) {
        show(TaskbarState{});
    }
}

void LauncherEntry::show(const TaskbarState& state) {
    // A hidden progress has no percent: moving it sends nothing.
    TaskbarState shown = state;
    shown.percent = shown.visible ? std::clamp(shown.percent, 0, 100) : 0;
    if (sent_ == shown || !bus_.isConnected()) {
        return;
    }
    sent_ = shown;
    QDBusMessage update = QDBusMessage::createSignal(
        QStringLiteral("/com/tarvo/RemoteFirmwareUpdate"),
        QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"));
    update << appUri_
           << QVariantMap{{QStringLiteral("progress"), shown.percent / 100.0},
                          {QStringLiteral("progress-visible"), shown.visible},
                          {QStringLiteral("urgent"), shown.urgent}};
    bus_.send(update);
}

}  // namespace tarvo
