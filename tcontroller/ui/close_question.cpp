// The one question asked before a window closes during an update.
#include "tcontroller/ui/close_question.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>

namespace tarvo {

bool confirmCloseDuringUpdate(QWidget* parent, bool parentLook) {
    QMessageBox ask(parent);
    if (parentLook && parent != nullptr) {
        ask.setPalette(parent->palette());
        ask.setWindowTitle(parent->windowTitle());
    }
    ask.setIcon(QMessageBox::Warning);
    ask.setTextFormat(Qt::PlainText);
    ask.setText(QCoreApplication::translate(
        "CloseQuestion", "An update is running. Closing now can leave the controller unusable."));
    QPushButton* keep = ask.addButton(QCoreApplication::translate("CloseQuestion", "Keep updating"),
                                      QMessageBox::RejectRole);
    QPushButton* close = ask.addButton(QCoreApplication::translate("CloseQuestion", "Close anyway"),
                                       QMessageBox::DestructiveRole);
    ask.setDefaultButton(keep);
    ask.setEscapeButton(keep);
    ask.exec();
    // The update may have ended while the question was open; closing is then harmless.
    return ask.clickedButton() == close;
}

}  // namespace tarvo
