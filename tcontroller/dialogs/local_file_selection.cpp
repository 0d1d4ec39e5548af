// The local file selection of the version chooser: two files picked together
// in the file panel become the release of an offline update.
#include "tcontroller/dialogs/local_file_selection.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QUrl>

#include "tcontroller/base/log.h"
#include "tcontroller/catalogue/firmware_names.h"
#include "tcontroller/dialogs/sel_view_controller.h"
#include "tcontroller/view_controller.h"

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

std::string localFileAddress(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    return QUrl::fromLocalFile(absolute).toString(QUrl::FullyEncoded).toStdString();
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
    if (delegate != nullptr) {
        ResourceReads* reads = delegate->platform().reads;
        Result<Bytes> firmware;
        Result<Bytes> image;
        if (reads != nullptr) {
            firmware = reads->readBytes(localFileAddress(firmwarePath));
            if (firmware.ok()) {
                image = reads->readBytes(localFileAddress(imagePath));
            }
        }
        if (!firmware.ok() || !image.ok()) {
            logLine("load files failed");
            dismissController();
            logLine("^^^^^^^^^^");
            return;
        }
        delegate->takeRelease(Util::UpMode::offline, Util::Histoty{pair->version, ""},
                              std::move(image.value), std::move(firmware.value));
        delegate->refreshUI();
    }
    dismissController();
    logLine("^^^^^^^^^^");
}

}  // namespace tarvo
