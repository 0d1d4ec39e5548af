#include "tcontroller/update/taskbar_feed.h"

#include <memory>

#include "tcontroller/update/update_engine.h"

namespace tarvo {

TaskbarState taskbarStateOf(const UpdateSnapshot& snapshot, int percent) {
    TaskbarState state;
    state.visible = snapshot.sta == Util::UpSta::updating || snapshot.replugAlert;
    state.percent = percent;
    state.urgent = snapshot.replugAlert;
    return state;
}

void feedTaskbar(UpdateEngine& engine, TaskbarEntry& entry) {
    // The last state shown; the bar's moves change only its percent.
    auto shown = std::make_shared<TaskbarState>(taskbarStateOf(engine.snapshot(), 0));
    entry.show(*shown);
    QObject::connect(&engine, &UpdateEngine::changed, &engine, [&engine, &entry, shown] {
        const bool wasVisible = shown->visible;
        *shown = taskbarStateOf(engine.snapshot(), shown->percent);
        if (wasVisible != shown->visible) {
            // The bar's last value belongs to what came before (a download
            // fills it too): an update starts from nothing.
            shown->percent = 0;
        }
        entry.show(*shown);
    });
    QObject::connect(&engine, &UpdateEngine::progressChanged, &engine,
                     [&entry, shown](int percent) {
                         shown->percent = percent;
                         entry.show(*shown);
                     });
}

}  // namespace tarvo
