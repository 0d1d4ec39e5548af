// The demo's driver in the version chooser: the release or the files asked
// for with --choose, picked as a person would, and the chooser's refusal of
// files it will not take.
#include <QLabel>
#include <QStringList>
#include <algorithm>

#include "sim/demo/demo_driver.h"
#include "tcontroller/ui/dialogs/sel_view_controller.h"
#include "tcontroller/ui/view_controller.h"

namespace tarvo::demo {

void DemoDriver::driveChooser() {
    auto* chooser = window_.findChild<SelViewController*>();
    if (chosen_) {
        // Files the chooser refused: it stays open and says why.
        if (chooser != nullptr && chooser->isVisible() && !chooser->problemLabel()->isHidden()) {
            if (refusal_.holds(true)) {
                shots_.takeOver("files-refused", &window_, chooser);
                say("the chooser says: " + chooser->problemLabel()->text().toStdString());
                chooser->cancelClick();
                finish(kExitNothing, "the chosen files were refused");
            }
            return;
        }
        if (chooser == nullptr || !chooser->isVisible()) {
            stage_ = Stage::confirm;
        }
        return;
    }
    if (!chooser_.holds(chooser != nullptr && chooser->isVisible())) {
        return;
    }
    const std::string files = "files:";
    std::size_t row = chooser->viewArr.size() - 1;  // the file row is the last
    if (options_.choose.rfind(files, 0) == 0) {
        const QStringList paths =
            QString::fromStdString(options_.choose.substr(files.size())).split(QLatin1Char(','));
        chooser->runOpenPanel = [paths](QStringList* chosen) {
            *chosen = paths;
            return 1;
        };
        say("picking the files " + paths.join(QStringLiteral(" and ")).toStdString());
    } else {
        const auto at = std::find_if(chooser->tmpArr.begin(), chooser->tmpArr.end(),
                                     [&](const auto& h) { return h.ver == options_.choose; });
        if (at == chooser->tmpArr.end()) {
            say("the chooser has no row for " + options_.choose);
            chooser->cancelClick();
            finish(kExitNothing, "no such release to choose");
            return;
        }
        row = static_cast<std::size_t>(at - chooser->tmpArr.begin());
        say("picking " + options_.choose);
    }
    chooser->viewClickedWithNoti(QVariant(static_cast<qlonglong>(row)));
    chosen_ = true;
    chooser->okClick();
}

}  // namespace tarvo::demo
