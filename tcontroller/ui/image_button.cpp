#include "tcontroller/ui/image_button.h"

#include <QKeyEvent>
#include <QPainter>

#include "tcontroller/ui/focus_ring.h"

namespace tarvo {
namespace {

// The artwork's layout in logical pixels: its size, the side padding and the
// glyph at the left; the words go in the space right of the glyph.
constexpr int kArtWidth = 220;
constexpr int kArtHeight = 56;
constexpr int kTextLeft = 18 + 15 + 9;  // padding + glyph + gap
constexpr int kTextRight = 18;

}  // namespace

ImageButton::ImageButton(QWidget* parent) : QAbstractButton(parent) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    showFocusRingForKeyboard(this);
}

QPixmap ImageButton::load(const QString& name) const {
    QPixmap pixmap(directory_ + "/" + name + ".png");
    // The artwork is drawn at twice the shown size for high-density screens.
    pixmap.setDevicePixelRatio(2.0);
    return pixmap;
}

void ImageButton::setImages(const QString& name, const QString& pressedName) {
    if (name == name_ && pressedName == pressedName_) {
        return;
    }
    name_ = name;
    pressedName_ = pressedName;
    image_ = load(name);
    pressedImage_ = load(pressedName);
    update();
}

QFont ImageButton::labelFont(int width) const {
    QFont font = this->font();
    font.setBold(true);
    const int room = width - kTextLeft - kTextRight;
    while (font.pointSizeF() > 6 && QFontMetrics(font).horizontalAdvance(text()) > room) {
        font.setPointSizeF(font.pointSizeF() - 0.5);
    }
    return font;
}

QSize ImageButton::sizeHint() const {
    // The artwork's size, wider and taller when larger fonts need it.
    QFont font = this->font();
    font.setBold(true);
    const QFontMetrics metrics(font);
    return {std::max(kArtWidth, kTextLeft + metrics.horizontalAdvance(text()) + kTextRight),
            std::max(kArtHeight, metrics.height() * 2)};
}

void ImageButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) {
        painter.setOpacity(0.35);
    }
    const QPixmap& pixmap = isDown() && !pressedImage_.isNull() ? pressedImage_ : image_;
    const QRect textRect =
        rect().adjusted(kTextLeft, isDown() ? 1 : 0, -kTextRight, isDown() ? 1 : 0);
    if (pixmap.isNull()) {
        // Missing artwork: still show a usable button.
        painter.setPen(palette().buttonText().color());
        painter.drawRoundedRect(rect().adjusted(0, 0, -1, -1), 8, 8);
        painter.drawText(rect(), Qt::AlignCenter, text());
    } else {
        painter.drawPixmap(rect(), pixmap);
        // The words, light on the dark face, with the artwork's soft shadow.
        painter.setFont(labelFont(width()));
        painter.setPen(QColor(0, 0, 0, 100));
        painter.drawText(textRect.translated(0, 1), Qt::AlignCenter, text());
        painter.setPen(isDown() ? QColor(0xe8, 0xf0, 0xfc) : QColor(Qt::white));
        painter.drawText(textRect, Qt::AlignCenter, text());
    }
    if (hasFocus() && property("keyboardFocus").toBool()) {
        // The keyboard focus ring, just inside the face's own border: white
        // with a dark edge on each side, so it stands out on a light face as
        // on a dark or coloured one.
        painter.setOpacity(1.0);
        painter.setBrush(Qt::NoBrush);
        const QRectF ring = QRectF(rect()).adjusted(3, 3, -3, -3);
        painter.setPen(QPen(QColor(0x10, 0x14, 0x1a), 6));
        painter.drawRoundedRect(ring, 9, 9);
        painter.setPen(QPen(Qt::white, 3));
        painter.drawRoundedRect(ring, 9, 9);
    }
}

void ImageButton::keyPressEvent(QKeyEvent* event) {
    // Space is QAbstractButton's own; Enter and Return press the button too.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && isEnabled()) {
        animateClick();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

}  // namespace tarvo
