#include "tcontroller/ui/focus_ring.h"

#include <QEvent>
#include <QFocusEvent>
#include <QStyle>
#include <QWidget>

namespace tarvo {
namespace {

class KeyboardFocusFilter : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* widget = static_cast<QWidget*>(watched);
        switch (event->type()) {
            case QEvent::FocusIn: {
                const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
                set(widget, reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
                                reason == Qt::ShortcutFocusReason);
                break;
            }
            case QEvent::KeyPress:
                set(widget, true);
                break;
            case QEvent::FocusOut:
                set(widget, false);
                break;
            default:
                break;
        }
        return false;
    }

  private:
    static void set(QWidget* widget, bool on) {
        if (widget->property("keyboardFocus").toBool() == on) {
            return;
        }
        widget->setProperty("keyboardFocus", on);
        // Style sheet rules on the property are matched again.
        widget->style()->unpolish(widget);
        widget->style()->polish(widget);
        widget->update();
    }
};

}  // namespace

void showFocusRingForKeyboard(QWidget* widget) {
    widget->setProperty("keyboardFocus", false);
    widget->installEventFilter(new KeyboardFocusFilter(widget));
}

}  // namespace tarvo
