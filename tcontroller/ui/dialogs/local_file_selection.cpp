// The local file selection of the version chooser: two files picked together
// in the file panel become the release of an offline update; files that are
// not such a pair are refused with an explanation in the chooser.
#include "tcontroller/ui/dialogs/local_file_selection.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QWindow>
#include <string>
#include <vector>

#include "tcontroller/base/log.h"
#include "tcontroller/catalogue/firmware_names.h"
#include "tcontroller/ui/dialogs/sel_view_controller.h"
#include "tcontroller/update/update_engine.h"

namespace tarvo {
namespace {

// A picked file as an explanation names it: the last component of its path,
// control characters replaced, its middle elided where it would take more
// than `width` (so it always fits on a line of the wrapped text).
QString shownName(const QString& path, const QFontMetrics& metrics, int width) {
    QString name = QFileInfo(path).fileName();
    for (QChar& c : name) {
        if (c.category() == QChar::Other_Control) {
            c = QChar::ReplacementCharacter;
        }
    }
    return metrics.elidedText(name, Qt::ElideMiddle, width);
}

}  // namespace

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

QString SelViewController::rejectionText(const LocalPairVerdict& verdict,
                                         const QStringList& paths) const {
    if (verdict.problem == LocalPairProblem::notTwoFiles) {
        return paths.size() < 2 ? tr("Pick both files together: the firmware file and the image "
                                     "file (hold Ctrl to pick the second).")
                                : tr("Pick only two files: the firmware file and the image file.");
    }
    const QFontMetrics metrics(problemLabel()->font());
    const int nameWidth = problemLabel()->width() * 3 / 4;
    const QString first = shownName(paths.value(0), metrics, nameWidth);
    const QString second = shownName(paths.value(1), metrics, nameWidth);
    QString why;
    switch (verdict.problem) {
        case LocalPairProblem::unrecognisedName:
            why = tr("“%1” is not named like a firmware file or an image file.")
                      .arg(verdict.file == 0 ? first : second);
            break;
        case LocalPairProblem::bothFirmware:
            why = tr("“%1” and “%2” are both firmware files.").arg(first, second);
            break;
        case LocalPairProblem::bothImage:
            why = tr("“%1” and “%2” are both image files.").arg(first, second);
            break;
        case LocalPairProblem::mixedNamings:
            why = tr("“%1” and “%2” are named in two different ways.").arg(first, second);
            break;
        case LocalPairProblem::versionsDiffer:
            why = tr("“%1” and “%2” belong to different versions.").arg(first, second);
            break;
        case LocalPairProblem::none:
        case LocalPairProblem::notTwoFiles:
            break;
    }
    return why + QLatin1Char(' ') +
           tr("Pick two files together: Tarvo Remote_FW_V1.3.bin and Tarvo Remote_Img_V1.3.bin "
              "(or FW_V1.3.bin and Img_V1.3.bin as downloaded).");
}

void SelViewController::selectLocalFiles() {
    QStringList paths;
    const int result = runOpenPanel ? runOpenPanel(&paths) : runSystemOpenPanel(this, &paths);
    // A cancelled panel: the chooser stays as it was.
    if (result != 1) {
        return;
    }
    std::vector<std::string> picked;
    picked.reserve(static_cast<std::size_t>(paths.size()));
    for (const QString& path : paths) {
        picked.push_back(path.toStdString());
    }
    const LocalPairVerdict verdict = judgeLocalFiles(picked);
    // Refused files are explained in the chooser, which stays open with the
    // file row selected, so the user can pick again.
    if (verdict.problem == LocalPairProblem::notTwoFiles) {
        showProblem(rejectionText(verdict, paths));
        return;
    }
    logLine("vvvvvvvvvv");
    if (!verdict.ok()) {
        logLine("invalidate files");
        showProblem(rejectionText(verdict, paths));
        logLine("^^^^^^^^^^");
        return;
    }
    logLine("success");
    const QString& firmwarePath = paths.at(static_cast<qsizetype>(verdict.pair.firmwareIndex));
    const QString& imagePath = paths.at(static_cast<qsizetype>(verdict.pair.imageIndex));
    if (engine != nullptr) {
        const Result<void> taken = engine->updateFromFiles(
            imagePath.toStdString(), firmwarePath.toStdString(), verdict.pair.version);
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
