#include "tcontroller/ui/dialogs/ver_view.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFontDatabase>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

#include "tcontroller/base/log.h"
#include "tcontroller/ui/dialogs/notification_center.h"

namespace tarvo {
namespace {

constexpr int kDotX = 20;
constexpr int kDotY = 20;
constexpr int kDotSize = 20;
constexpr qreal kRowCornerRadius = 6;

// The round marker: a filled circle in its owner's colour.
class MarkerDot : public QWidget {
  public:
    MarkerDot(const QColor& colour, QWidget* parent) : QWidget(parent), colour_(colour) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour_);
        painter.drawEllipse(rect());
    }

  private:
    QColor colour_;
};

// A row: a radio button named by its label, checked when selected; a press
// selects it, as a click does.
class RowAccessible : public QAccessibleWidget {
  public:
    explicit RowAccessible(VerView* row) : QAccessibleWidget(row, QAccessible::RadioButton) {
        addControllingSignal(QStringLiteral("destroyed()"));
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && row()->accessibleName().isEmpty()) {
            return row()->label->text();
        }
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = row()->isSelected();
        return s;
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& action) override {
        if (action == pressAction()) {
            NotificationCenter::defaultCenter().post(QStringLiteral("myViewClick"),
                                                     QVariant(row()->index()));
        }
    }

  private:
    VerView* row() const { return static_cast<VerView*>(widget()); }
};

QAccessibleInterface* chooserAccessible(const QString& key, QObject* object) {
    if (key == QLatin1String("tarvo::VerView")) {
        return new RowAccessible(static_cast<VerView*>(object));
    }
    if (object != nullptr && object->isWidgetType() &&
        object->objectName() == QLatin1String("listView")) {
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::List);
    }
    return nullptr;
}

}  // namespace

void installChooserAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(chooserAccessible);
        return true;
    }();
    (void)installed;
}

VerView::VerView(const QRect& frame, QWidget* parent)
    : QWidget(parent),
      label(new QLabel(this)),
      bColor(QColor::fromRgbF(50 / 255.0, 50 / 255.0, 50 / 255.0, 1.0)) {
    setGeometry(frame);

    // The label fills the row's width over its lower 43 points; it only shows
    // text (no editing, no selection) and lets presses through to the row.
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    label->setFrameShape(QFrame::NoFrame);
    label->setAutoFillBackground(false);
    label->setAlignment(Qt::AlignCenter);
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(20);
    label->setFont(font);
    label->setGeometry(0, kHeight - kLabelHeight, frame.width(), kLabelHeight);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);

    // Added after the label, so it is drawn above it.
    dot_ = new MarkerDot(bColor, this);
    dot_->setGeometry(kDotX, kDotY, kDotSize, kDotSize);
}

void VerView::setBackgroundColor(const QColor& colour) {
    background_ = colour;
    update();
}

void VerView::setTextColor(const QColor& colour) {
    // A style sheet of the label's own, so that no rule inherited from the
    // windows above it can override the colour.
    label->setStyleSheet(QStringLiteral("color: %1;").arg(colour.name()));
}

void VerView::setSelected(bool selected) {
    if (selected == selected_) {
        return;
    }
    selected_ = selected;
    QAccessible::State changed;
    changed.checked = true;
    QAccessibleStateChangeEvent event(this, changed);
    QAccessible::updateAccessibility(&event);
}

int VerView::index() const {
    const QObject* owner = parent();
    return owner == nullptr ? -1 : static_cast<int>(owner->children().indexOf(this));
}

void VerView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const int row = index();
    NotificationCenter::defaultCenter().post(QStringLiteral("myViewClick"), QVariant(row));
    logLine("left mouse " + std::to_string(row));
}

void VerView::paintEvent(QPaintEvent*) {
    if (background_.alpha() == 0) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(background_);
    painter.drawRoundedRect(QRectF(rect()), kRowCornerRadius, kRowCornerRadius);
}

}  // namespace tarvo
