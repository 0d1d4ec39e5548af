#pragma once

#include <QColor>
#include <QDialog>
#include <QPointer>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "tcontroller/base/util.h"
#include "tcontroller/platform/work_queue.h"

class QLabel;
class QPushButton;
class QWidget;

namespace Ui {
class SelViewController;
}

namespace tarvo {

class VerView;
class UpdateEngine;
struct LocalPairVerdict;

// The version chooser: a small frameless modal window listing at most two
// published versions (never the built-in one) and a last row "Select from FW
// file". OK downloads the chosen version into the update engine, or
// hands over to the local file selection, which explains under the list why
// picked files were refused. The list takes the keyboard focus
// when the chooser opens, so it works without a mouse. A new chooser is made for each
// opening; it deletes itself when it closes.
class SelViewController : public QDialog {
    Q_OBJECT
  public:
    explicit SelViewController(QWidget* parent = nullptr);
    ~SelViewController() override;

    UpdateEngine* engine = nullptr;      // where a chosen release goes
    std::vector<Util::Histoty> dataArr;  // the history handed in by the opener
    std::vector<Util::Histoty> tmpArr;   // the versions that get rows, in row order
    std::vector<VerView*> viewArr;       // the rows: version rows, then the file row
    // Selected row; -1: none. Written on the main thread, read by the OK job.
    std::atomic<std::int64_t> idx{-1};
    QColor bColor;
    std::unique_ptr<WorkQueue> queue;  // "com.online.fw": runs the OK job
    QPointer<QPushButton> cancelBut;
    QPointer<QPushButton> okBut;

    // Shows the chooser as a modal window over its parent and returns at once.
    void present();

    void okClick();
    void cancelClick();
    // Handler of the "myViewClick" notification (the row's index, or anything else).
    void viewClickedWithNoti(const QVariant& object);
    // The local file selection (main thread).
    void selectLocalFiles();

    // The system file panel, behind a seam so tests can answer it: returns the
    // panel's result (1 for OK) and fills the chosen paths in the panel's order.
    // Empty: the system panel is used.
    std::function<int(QStringList* paths)> runOpenPanel;

    // The view that holds the rows and nothing else, in row order.
    QWidget* listView() const;
    // Why the last files picked were refused; hidden while there is nothing to tell.
    QLabel* problemLabel() const;

    // The chooser's size while no problem is shown; one shown adds its height.
    static constexpr int kContentWidth = 480;
    static constexpr int kContentHeight = 270;

  protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    // Escape: the same as Cancel while Cancel is available.
    void reject() override;
    // The list by keyboard: Up and Down (Home, End) move the selection, Enter
    // and Return are OK (or press the focused button).
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void viewDidLoad();
    void viewWillAppear();
    void viewDidAppear();
    void dismissController();
    void runOkJob(const QPointer<SelViewController>& self);
    void recolour();
    // Shows `text` under the list, growing the chooser to fit it, and alerts
    // assistive technology; an empty text hides it and restores the size.
    void showProblem(const QString& text);
    // The explanation of refused files, with the naming they must follow.
    QString rejectionText(const LocalPairVerdict& verdict, const QStringList& paths) const;

    std::unique_ptr<::Ui::SelViewController> ui_;
    bool appeared_ = false;
    int buttonsTop_ = 0;  // the buttons' top edge while no problem is shown
};

}  // namespace tarvo
