#include "tcontroller/image_button.h"

#include <QPainter>

namespace tarvo {

ImageButton::ImageButton(QWidget* parent) : QAbstractButton(parent) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
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
    setAccessibleName(name);
    update();
}

void ImageButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (!isEnabled()) {
        painter.setOpacity(0.35);
    }
    const QPixmap& pixmap = isDown() && !pressedImage_.isNull() ? pressedImage_ : image_;
    if (pixmap.isNull()) {
        // Missing artwork: still show a usable button.
        painter.setPen(palette().buttonText().color());
        painter.drawRoundedRect(rect().adjusted(0, 0, -1, -1), 8, 8);
        painter.drawText(rect(), Qt::AlignCenter, name_);
        return;
    }
    painter.drawPixmap(rect(), pixmap);
}

}  // namespace tarvo
