// The local file selection of the version chooser: two files picked together
// in the file panel become the release of an offline update.
#include "tcontroller/ui/dialogs/local_file_selection.h"

#include <QFileDialog>

#include "tcontroller/base/log.h"
#include "tcontroller/catalogue/firmware_names.h"
#include "tcontroller/ui/dialogs/sel_view_controller.h"
#include "tcontroller/update/update_engine.h"

namespace tarvo {

int runSystemOpenPanel(QWidget* parent, QStringList* paths) {
    QFileDialog panel(parent);
    panel.setAcceptMode(QFileDialog::AcceptOpen);
    panel.setFileMode(QFileDialog::ExistingFiles);
    panel.setOption(QFileDialog::ReadOnly, true);
    panel.setNameFilter(QStringLiteral("*.bin"));
    panel.setWindowModality(Qt::ApplicationModal);
    if (panel.exec() != QDialog::Accepted) {
        return 0;
    }
    *paths = panel.selectedFiles();
    return 1;
}

void SelViewController::selectLocalFiles() {
    QStringList paths;
    const int result = runOpenPanel ? runOpenPanel(&paths) : runSystemOpenPanel(this, &paths);
    // A cancelled panel, or other than a pair: the chooser stays open with its
    // selection, so the user can try again.
    if (result != 1 || paths.size() != 2) {
        return;
    }
    logLine("vvvvvvvvvv");
    const std::optional<LocalPair> pair =
        judgeLocalPair(paths[0].toStdString(), paths[1].toStdString());
    if (!pair) {
        logLine("invalidate files");
        dismissController();
        logLine("^^^^^^^^^^");
        return;
    }
    logLine("success");
    const QString& firmwarePath = paths.at(static_cast<qsizetype>(pair->firmwareIndex));
    const QString& imagePath = paths.at(static_cast<qsizetype>(pair->imageIndex));
    if (engine != nullptr) {
        const Result<void> taken = engine->updateFromFiles(
            imagePath.toStdString(), firmwarePath.toStdString(), pair->version);
        if (!taken.ok()) {
            logLine("load files failed");
            dismissController();
            logLine("^^^^^^^^^^");
            return;
        }
    }
    dismissController();
    logLine("^^^^^^^^^^");
}

}  // namespace tarvo
