// Alerts for screen readers: a label or a dialog that takes the alert role
// while it carries news, and raises the events each platform bridge passes on.
#include "tcontroller/ui/announce.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QDialog>
#include <QLabel>
#include <QTextDocumentFragment>

namespace tarvo {
namespace {

const char* const kAnnounceable = "tarvoAnnounceable";
const char* const kAnnounced = "tarvoAnnounced";

// The plain text a widget shows: a label's words (markup removed), else its
// accessible name or window title.
QString plainText(const QWidget* widget) {
    if (const auto* label = qobject_cast<const QLabel*>(widget)) {
        return label->textFormat() == Qt::PlainText
                   ? label->text()
                   : QTextDocumentFragment::fromHtml(label->text()).toPlainText();
    }
    return widget->accessibleName().isEmpty() ? widget->windowTitle() : widget->accessibleName();
}

class AnnounceableWidget : public QAccessibleWidget {
  public:
    AnnounceableWidget(QWidget* widget, QAccessible::Role plainRole)
        : QAccessibleWidget(widget, plainRole), plainRole_(plainRole) {}

    QAccessible::Role role() const override {
        return widget()->property(kAnnounced).toBool() ? QAccessible::AlertMessage : plainRole_;
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name) {
            return plainText(widget());
        }
        return QAccessibleWidget::text(t);
    }

  private:
    QAccessible::Role plainRole_;
};

QAccessibleInterface* announceableFactory(const QString& /*className*/, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget == nullptr || !widget->property(kAnnounceable).toBool()) {
        return nullptr;
    }
    return new AnnounceableWidget(widget, qobject_cast<QDialog*>(widget) != nullptr
                                              ? QAccessible::Dialog
                                              : QAccessible::StaticText);
}

}  // namespace

void makeAnnounceable(QWidget* widget) {
    static const bool installed = [] {
        QAccessible::installFactory(announceableFactory);
        return true;
    }();
    (void)installed;
    widget->setProperty(kAnnounceable, true);
    // An interface made for the widget before (its setup may have asked for
    // one) is replaced by the announceable one.
    QAccessibleInterface* made = QAccessible::queryAccessibleInterface(widget);
    if (made != nullptr && dynamic_cast<AnnounceableWidget*>(made) == nullptr) {
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
    }
}

void announce(QWidget* widget, bool announced) {
    widget->setProperty(kAnnounced, announced);
    if (!announced || !widget->isVisible()) {
        return;
    }
    QAccessibleEvent alert(widget, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
    if (!widget->isWindow()) {
        // Hidden and shown again within one pass of the event loop: nothing is
        // drawn in between, and the bridge reports the alert as newly showing.
        // (A window that appears is newly showing already.)
        widget->hide();
        widget->show();
    }
}

}  // namespace tarvo
