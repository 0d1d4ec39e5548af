#pragma once

#include <QDialog>
#include <QPointer>

class QLabel;

namespace Ui {
class AlertViewController;
}

namespace tarvo {

// The update-in-progress alert: a small frameless modal window asking the user
// to keep the tool running and replug the cable when the bootloader stage takes
// too long. The main window owns one for the whole run and shows and hides it;
// the alert records whether it is on screen and tells its owner of the button.
class AlertViewController : public QDialog {
    Q_OBJECT
  public:
    explicit AlertViewController(QWidget* parent = nullptr);
    ~AlertViewController() override;

    bool shown = false;  // true while the alert is on screen (main thread only)
    QPointer<QLabel> label;

    // Shows the alert as a modal window over its parent and returns at once.
    void present();
    // Closes the alert.
    void dismiss();
    // True while presented (the counterpart of having a presenting controller).
    bool isPresented() const { return presented_; }
    // The alert's button: tells the owner, then closes the alert. Acts only
    // while the alert is on screen, and once per showing: a key or close
    // request that reaches the alert after it was hidden does nothing.
    void click();

    static const char* message();

    // Escape and the window manager's close do what the button does, so the
    // final step is never left unsent by closing the alert another way.
    void reject() override;

  signals:
    // The user pressed the button (or closed the alert another way).
    void answered();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    std::unique_ptr<Ui::AlertViewController> ui_;
    bool presented_ = false;
    bool answered_ = false;  // the button acted during this showing
};

}  // namespace tarvo
