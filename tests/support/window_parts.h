#pragma once

// The main window's parts as a test reaches them: by the object names of the
// window's form, as a user's tool (an accessibility reader) would find them.
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QString>
#include <QWidget>
#include <stdexcept>
#include <string>

#include "tcontroller/ui/dialogs/alert_view_controller.h"
#include "tcontroller/ui/image_button.h"

namespace tarvo::test {

// The child of `window` named `name` (titleLabel, FWLabel, prodLabel,
// msgLabel, stageLabel, progress, leftBut, rightBut, FailedOKBut, closeBut,
// aboutBut, cancelBut, copyDetailsBut); throws when the form has none.
template <class T>
T* part(const QWidget& window, const char* name) {
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (found == nullptr) {
        throw std::runtime_error(std::string("the window has no ") + name);
    }
    return found;
}

inline QLabel* label(const QWidget& window, const char* name) {
    return part<QLabel>(window, name);
}
inline QPushButton* button(const QWidget& window, const char* name) {
    return part<QPushButton>(window, name);
}
inline ImageButton* faceButton(const QWidget& window, const char* name) {
    return part<ImageButton>(window, name);
}
inline std::string text(const QWidget& window, const char* labelName) {
    return label(window, labelName)->text().toStdString();
}
// The replug alert the window owns (one for the whole run).
inline AlertViewController* alertOf(const QWidget& window) {
    return window.findChild<AlertViewController*>();
}

}  // namespace tarvo::test
