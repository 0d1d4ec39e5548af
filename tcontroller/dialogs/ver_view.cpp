#include "tcontroller/dialogs/ver_view.h"

#include <QFontDatabase>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

#include "tcontroller/base/log.h"
#include "tcontroller/dialogs/notification_center.h"

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

}  // namespace

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
