#pragma once

namespace tarvo {

// What the desktop's task bar or dock shows on the tool's icon, beside the
// window's own bar.
struct TaskbarState {
    bool visible = false;  // an update runs: its progress is shown
    int percent = 0;       // 0..100, while visible
    bool urgent = false;   // the tool asks for the user (the replug alert)
    bool operator==(const TaskbarState&) const = default;
};

// The tool's entry in the task bar or dock. Called on the main thread;
// returns at once. An entry that cannot reach the desktop does nothing.
class TaskbarEntry {
  public:
    virtual ~TaskbarEntry() = default;
    virtual void show(const TaskbarState& state) = 0;
};

}  // namespace tarvo
