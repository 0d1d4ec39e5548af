// The local file selection of the version chooser: two files picked together
// in the file panel become the release of an offline update.
#include "tcontroller/ui/dialogs/local_file_selection.h"

#include <QFileDialog>
#include <QWindow>

#include "tcontroller/base/log.h"
#include "tcontroller/catalogue/firmware_names.h"
#include "tcontroller/ui/dialogs/sel_view_controller.h"
#include "tcontroller/update/update_engine.h"

namespace tarvo {

int runSystemOpenPanel(QWidget* parent, QStringList* paths) {
    // Made without a parent widget: a dialog takes the style sheets of every
    // widget above it, and the window's (light text for its dark face) would
    // leave the panel's labels light grey on the panel's light background.
    // The panel stays above `parent`'s window as its transient child, and is
    // centred over it, as a child dialog would be.
    QFileDialog panel(nullptr,
                      SelViewController::tr("Choose the firmware file and the image file"));
    if (parent != nullptr) {
        panel.winId();
        if (QWindow* above = parent->window()->windowHandle()) {
            panel.windowHandle()->setTransientParent(above);
        }
    }
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
