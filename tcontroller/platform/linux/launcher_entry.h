#pragma once

#include <QDBusConnection>
#include <QString>
#include <optional>

#include "tcontroller/platform/taskbar_entry.h"

namespace tarvo {

// The tool's icon in the dock or task bar of desktops that follow the
// launcher entry convention: the signal com.canonical.Unity.LauncherEntry.Update
// on the session bus, naming the application by its desktop file. Only a
// change is sent (the bar moves in whole percents); without a session bus
// nothing is sent or logged. A progress still shown is taken down when the
// entry goes.
class LauncherEntry final : public TaskbarEntry {
  public:
    // `desktopId` is the desktop file's name without ".desktop".
    LauncherEntry(QDBusConnection bus, const QString& desktopId);
    ~LauncherEntry() override;
    LauncherEntry(const LauncherEntry&) = delete;
    LauncherEntry& operator=(const LauncherEntry&) = delete;

    void show(const TaskbarState& state) override;

  private:
    QDBusConnection bus_;
    QString appUri_;
    std::optional<TaskbarState> sent_;
};

}  // namespace tarvo
