#pragma once

#include <QAbstractButton>
#include <QPixmap>
#include <QString>

namespace tarvo {

// A button drawn from two images, one at rest and one while pressed, with its
// words (text()) drawn over the artwork at run time, so they can be translated
// and follow the user's font size. Images are looked up by resource name in
// the image directory ("<dir>/<name>.png"); they hold the face and a glyph at
// the left. Disabled, the button is drawn faded; with the focus from the
// keyboard it has a ring. Space and Enter press it.
class ImageButton : public QAbstractButton {
    Q_OBJECT
  public:
    explicit ImageButton(QWidget* parent = nullptr);

    void setImageDirectory(const QString& dir) { directory_ = dir; }
    // Sets the image and the pressed-state image by resource name.
    void setImages(const QString& name, const QString& pressedName);
    QString imageName() const { return name_; }

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QPixmap load(const QString& name) const;
    // The label's font: the widget's, bold, shrunk when the words would not fit.
    QFont labelFont(int width) const;

    QString directory_;
    QString name_;
    QString pressedName_;
    QPixmap image_;
    QPixmap pressedImage_;
};

}  // namespace tarvo
