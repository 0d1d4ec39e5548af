#pragma once

#include <QColor>
#include <QPointer>
#include <QWidget>

class QLabel;

namespace tarvo {

// One row of the version chooser, 60 points high: a centred label over its
// lower 43 points and a round marker dot at the left that shows up only on
// the white background of a selected row. Rows are created in code only.
// A press on the row posts "myViewClick" with the row's index, its position
// among its parent's children. To assistive technology a row is a radio
// button named by its text, checked while it is the selected row.
class VerView : public QWidget {
    Q_OBJECT
  public:
    // `frame` is in the parent's coordinates (origin top-left).
    explicit VerView(const QRect& frame, QWidget* parent = nullptr);

    QLabel* label;  // the row's text; a child of the row, always present
    QColor bColor;  // fill of the marker dot

    // The row's background; fully transparent is a clear background.
    void setBackgroundColor(const QColor& colour);
    QColor backgroundColor() const { return background_; }
    void setTextColor(const QColor& colour);

    // Position among the parent's children; -1 without a parent.
    int index() const;

    // The row is the chooser's selection (told to assistive technology).
    void setSelected(bool selected);
    bool isSelected() const { return selected_; }

    static constexpr int kHeight = 60;
    static constexpr int kLabelHeight = 43;

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    QWidget* dot_;
    QColor background_ = Qt::transparent;
    bool selected_ = false;
};

// Makes the rows and the list that holds them (a widget named "listView")
// known to assistive technology as radio buttons in a list. Idempotent.
void installChooserAccessibility();

}  // namespace tarvo
