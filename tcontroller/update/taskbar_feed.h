#pragma once

#include "tcontroller/platform/taskbar_entry.h"
#include "tcontroller/update/update_snapshot.h"

namespace tarvo {

class UpdateEngine;

// What the task bar shows for the engine's state and its bar's percent: the
// progress while an update runs or the replug alert asks for the user, urgent
// while that alert is up; nothing otherwise.
TaskbarState taskbarStateOf(const UpdateSnapshot& snapshot, int percent);

// From now on `entry` shows the engine's updates: at once (no update yet) and
// at each change of its state or bar. `entry` must outlive `engine`.
void feedTaskbar(UpdateEngine& engine, TaskbarEntry& entry);

}  // namespace tarvo
