#pragma once

#include <QPointer>
#include <QWidget>
#include <memory>
#include <string>

#include "tcontroller/platform/platform.h"
#include "tcontroller/ui/window_state.h"
#include "tcontroller/update/update_engine.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace Ui {
class ViewController;
}

namespace tarvo {

class AlertViewController;
class ImageButton;
class SelViewController;

// The main window: one view of the update engine. It shows
// windowFor(engine().snapshot()) each time the engine says its state changed,
// and its buttons call the engine's commands; it holds no updater state of
// its own beyond what is on screen (the chooser that is open, the alert, the
// "Update complete!" dialog). Main thread only.
class ViewController : public QWidget {
    Q_OBJECT

  public:
    explicit ViewController(const Platform& platform, QWidget* parent = nullptr);
    ~ViewController() override;

    // Styles the views, shows the first state and starts the engine.
    void viewDidLoad();
    // The engine behind the window.
    UpdateEngine& engine() { return *engine_; }
    const UpdateEngine& engine() const { return *engine_; }

  signals:
    // The line under the bar changed to `text`.
    void progressLineShown(const QString& text);
    // "Open station view" was pressed (shown while several controllers are
    // attached): the station's window is wanted.
    void stationRequested();

  protected:
    void closeEvent(QCloseEvent* event) override;
    // Escape on the confirmation is its CANCEL.
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void applyFontSizes();
    // The window's size for its content, within the screen's available area:
    // on a small or strongly scaled screen the content scrolls instead of
    // being cut off.
    QSize fittedSize() const;
    // Makes the window larger when its content needs more room than it has.
    void growToContent();
    // Shows the engine's state; called on each changed().
    void render();
    void showWindow(const WindowView& view);
    void showProgressLine(const ProgressLine& line);
    // "Update complete!" until the user acknowledges it.
    void showCompletion();

    // ---- Buttons.
    void leftClick();
    void rightClick();
    // The failure screen's OK.
    void click();
    void closeClick();
    // The window's Close button: closeClick(), after asking while an update runs.
    void closeButtonClicked();
    // Opens the About box: the tool's version, the built-in release and where
    // the support log is. Not modal to the update; returns at once.
    void showAbout();
    // Puts the engine's support details on the clipboard.
    void copyDetails();
    // Opens the version chooser as a modal window.
    void presentChooser();
    // A note the window shows until the next state change: the chooser's
    // way needs a network, or the local files are offered instead.
    void showNote(const QString& text, bool okShown);

    std::unique_ptr<UpdateEngine> engine_;
    std::unique_ptr<Ui::ViewController> ui_;
    AlertViewController* alert_ = nullptr;  // owned by this widget (Qt parent)
    QPointer<SelViewController> openChooser_;
    bool completionShown_ = false;
    WindowView shown_{};             // the view on screen
    QTimer* copiedTimer_ = nullptr;  // how long Copy details says "Copied"
};

}  // namespace tarvo
