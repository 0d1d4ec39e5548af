#include "tcontroller/ui/dialogs/alert_view_controller.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>

#include "tcontroller/base/log.h"
#include "tcontroller/ui/announce.h"
#include "tcontroller/ui/focus_ring.h"
#include "ui_alert_view_controller.h"

namespace tarvo {

const char* AlertViewController::message() {
    return QT_TRANSLATE_NOOP("tarvo::AlertViewController",
                             "If waiting time is more than 10s,\nplease keep the program "
                             "running(Warning: Don't close the program)\nand replug USB cable to "
                             "finish update.");
}

AlertViewController::AlertViewController(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::AlertViewController>()) {
    ui_->setupUi(this);
    label = ui_->label;
    // No title, no close, minimise or zoom control, not resizable: the only way
    // out is the button (or the update finishing).
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setWindowModality(Qt::ApplicationModal);
    label->setTextFormat(Qt::PlainText);
    label->setText(tr(message()));
    // Its size from the form, larger when the text (the system font size, a
    // longer translation) needs it.
    setFixedSize(size().expandedTo(sizeHint()));
    ui_->button->setAccessibleDescription(
        tr("Closes this message; after a replug the tool sends the final step again"));
    showFocusRingForKeyboard(ui_->button);
    // Screen readers read it as an alert when it appears, in the user's language.
    setAccessibleName(label->text());
    makeAnnounceable(this);
    connect(ui_->button, &QPushButton::clicked, this, &AlertViewController::click);
}

AlertViewController::~AlertViewController() = default;

void AlertViewController::present() {
    presented_ = true;
    show();
    activateWindow();
    announce(this);
}

void AlertViewController::dismiss() {
    presented_ = false;
    hide();
}

void AlertViewController::click() {
    // Without a window manager, Escape can still be delivered to the hidden
    // dialog; each such press would send the final step again.
    if (!shown || answered_) {
        return;
    }
    answered_ = true;
    emit answered();
    dismiss();
}

void AlertViewController::reject() {
    click();
}

void AlertViewController::closeEvent(QCloseEvent* event) {
    event->ignore();
    click();
}

void AlertViewController::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    logLine("view will appear");
    shown = true;
    answered_ = false;
}

void AlertViewController::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    logLine("view did disappear");
    shown = false;
    presented_ = false;
}

}  // namespace tarvo
