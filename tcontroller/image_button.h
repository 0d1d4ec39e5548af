#pragma once

#include <QAbstractButton>
#include <QPixmap>
#include <QString>

namespace tarvo {

// A button drawn entirely from two images: one at rest and one while pressed.
// Images are looked up by resource name in the image directory
// ("<dir>/<name>.png"). Disabled, the button is drawn faded.
class ImageButton : public QAbstractButton {
    Q_OBJECT
  public:
    explicit ImageButton(QWidget* parent = nullptr);

    void setImageDirectory(const QString& dir) { directory_ = dir; }
    // Sets the image and the pressed-state image by resource name.
    void setImages(const QString& name, const QString& pressedName);
    QString imageName() const { return name_; }
    QString pressedImageName() const { return pressedName_; }

    QSize sizeHint() const override { return {220, 56}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QPixmap load(const QString& name) const;

    QString directory_;
    QString name_;
    QString pressedName_;
    QPixmap image_;
    QPixmap pressedImage_;
};

}  // namespace tarvo
