// The main window: the engine's state on screen, and its buttons.
#include "tcontroller/ui/view_controller.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "tcontroller/base/log.h"
#include "tcontroller/base/log_file.h"
#include "tcontroller/catalogue/builtin_files.h"
#include "tcontroller/ui/announce.h"
#include "tcontroller/ui/close_question.h"
#include "tcontroller/ui/dialogs/alert_view_controller.h"
#include "tcontroller/ui/dialogs/sel_view_controller.h"
#include "tcontroller/ui/focus_ring.h"
#include "tcontroller/ui/image_button.h"
#include "tcontroller/ui/window_state.h"
#include "ui_view_controller.h"

namespace tarvo {
namespace {

const char* const kFailFirstLine = QT_TRANSLATE_NOOP("tarvo::ViewController", "Update Fail!\n");
const char* const kTitle =
    QT_TRANSLATE_NOOP("tarvo::ViewController", "Tarvo Remote Firmware Update - %1");
// How long Copy details says that it copied.
constexpr int kCopiedMs = 3000;

// The styled failure text: the first line in the system font at 16 points, red,
// centred; the second part centred in the default font and colour. The second
// part is escaped, so whatever it holds is shown as plain text and only our own
// constant markup is ever interpreted.
QString failureText(const std::string& secondPart) {
    QString first = ViewController::tr(kFailFirstLine);
    first.chop(1);  // the trailing line break is the paragraph break below
    return QStringLiteral(
               "<p align=\"center\" style=\"margin:0; font-size:16pt; color:#ff0000;\">%1</p>"
               "<p align=\"center\" style=\"margin:0;\">%2</p>")
        .arg(first.toHtmlEscaped(), QString::fromStdString(secondPart)
                                        .toHtmlEscaped()
                                        .replace(QLatin1Char('\n'), QLatin1String("<br>")));
}

void setPlain(QLabel* label, const std::string& text) {
    label->setTextFormat(Qt::PlainText);
    label->setText(QString::fromStdString(text));
}

}  // namespace

ViewController::ViewController(const Platform& platform, QWidget* parent)
    : QWidget(parent),
      engine_(std::make_unique<UpdateEngine>(platform)),
      ui_(std::make_unique<Ui::ViewController>()) {
    alert_ = new AlertViewController(this);
    ui_->setupUi(this);
    ui_->stageLabel->setHidden(true);
    ui_->cancelBut->setHidden(true);
    ui_->copyDetailsBut->setHidden(true);
    ui_->stationBut->setHidden(true);
    const QString images = QString::fromStdString(platform.resourcesDir + "/images");
    ui_->leftBut->setImageDirectory(images);
    ui_->rightBut->setImageDirectory(images);
    applyFontSizes();
    makeAnnounceable(ui_->msgLabel);
    // Keyboard use: Enter presses the focused button as Space does.
    for (QPushButton* button : {ui_->aboutBut, ui_->closeBut, ui_->FailedOKBut, ui_->cancelBut,
                                ui_->copyDetailsBut, ui_->stationBut}) {
        button->setAutoDefault(true);
        showFocusRingForKeyboard(button);
    }
    ui_->progress->setAccessibleName(tr("Update progress"));
    ui_->progress->setAccessibleDescription(tr("How far the firmware update has come"));
    ui_->aboutBut->setAccessibleDescription(tr("Shows the version of this tool"));
    ui_->closeBut->setAccessibleDescription(tr("Closes the update tool"));
    ui_->FailedOKBut->setAccessibleDescription(tr("Acknowledges the failed update"));
    ui_->cancelBut->setAccessibleDescription(tr("Stops the download and puts the window back"));
    ui_->copyDetailsBut->setAccessibleDescription(
        tr("Puts what support needs about this failure on the clipboard"));
    ui_->stationBut->setAccessibleDescription(
        tr("Opens a window that updates all attached controllers"));
    // Tab follows the screen from the top: the title row, the row under the
    // bar, then the two faces.
    setTabOrder(ui_->aboutBut, ui_->closeBut);
    setTabOrder(ui_->closeBut, ui_->cancelBut);
    setTabOrder(ui_->cancelBut, ui_->FailedOKBut);
    setTabOrder(ui_->FailedOKBut, ui_->copyDetailsBut);
    setTabOrder(ui_->copyDetailsBut, ui_->stationBut);
    setTabOrder(ui_->stationBut, ui_->leftBut);
    setTabOrder(ui_->leftBut, ui_->rightBut);
    connect(ui_->leftBut, &QAbstractButton::clicked, this, &ViewController::leftClick);
    connect(ui_->rightBut, &QAbstractButton::clicked, this, &ViewController::rightClick);
    connect(ui_->FailedOKBut, &QAbstractButton::clicked, this, &ViewController::click);
    connect(ui_->closeBut, &QAbstractButton::clicked, this, &ViewController::closeButtonClicked);
    connect(ui_->cancelBut, &QAbstractButton::clicked, engine_.get(),
            &UpdateEngine::cancelDownload);
    connect(ui_->copyDetailsBut, &QAbstractButton::clicked, this, &ViewController::copyDetails);
    connect(ui_->aboutBut, &QAbstractButton::clicked, this, &ViewController::showAbout);
    connect(ui_->stationBut, &QAbstractButton::clicked, this, &ViewController::stationRequested);
    connect(alert_, &AlertViewController::answered, engine_.get(), &UpdateEngine::alerted);
    connect(engine_.get(), &UpdateEngine::changed, this, &ViewController::render);
    connect(engine_.get(), &UpdateEngine::progressChanged, ui_->progress, &QProgressBar::setValue);
    connect(engine_.get(), &UpdateEngine::progressLineChanged, this,
            &ViewController::showProgressLine);
    engine_->setUserWatching([this] { return window()->isActiveWindow(); });
    copiedTimer_ = new QTimer(this);
    copiedTimer_->setSingleShot(true);
    copiedTimer_->setInterval(kCopiedMs);
    connect(copiedTimer_, &QTimer::timeout, this,
            [this] { ui_->copyDetailsBut->setText(tr("Copy details")); });
}

QSize ViewController::fittedSize() const {
    QSize wanted = ui_->content->sizeHint().expandedTo(ui_->content->minimumSize());
    // Wrapped texts take the height they need at that width.
    if (ui_->content->hasHeightForWidth()) {
        wanted.setHeight(std::max(wanted.height(), ui_->content->heightForWidth(wanted.width())));
    }
    const QScreen* shownOn = screen();
    if (shownOn == nullptr) {
        return wanted;
    }
    // Room for the window manager's frame and title bar.
    const QSize room = shownOn->availableGeometry().size() - QSize(16, 48);
    if (wanted.height() > room.height()) {
        // Scrolling up and down: the scroll bar takes its width beside the content.
        wanted.rwidth() += ui_->scroller->verticalScrollBar()->sizeHint().width();
    }
    return wanted.boundedTo(room);
}

void ViewController::applyFontSizes() {
    // Text sizes in points relative to the system font (the design's sizes at
    // a 9-point system font), so the window follows the user's font size; the
    // window is sized from its layout and grows with them.
    const QFont system = QApplication::font();
    const double base = system.pointSizeF() > 0 ? system.pointSizeF() : 9.0;
    const auto setSize = [&system, base](QWidget* widget, double atNine, bool bold) {
        QFont font = system;
        font.setPointSizeF(base * atNine / 9.0);
        font.setBold(bold);
        widget->setFont(font);
    };
    setSize(ui_->titleLabel, 9.75, false);
    setSize(ui_->msgLabel, 11.25, false);
    setSize(ui_->FWLabel, 13.5, true);
    setSize(ui_->prodLabel, 19.5, true);
    setSize(ui_->stageLabel, 9.75, false);
}

ViewController::~ViewController() {
    // Only tests and the demo destroy the window; the tool itself ends
    // through closeClick(). The engine stops every source of events first.
    delete openChooser_.data();
    engine_.reset();
}

void ViewController::viewDidLoad() {
    ui_->progress->setStyleSheet(
        "QProgressBar { background-color: #d3d3d3; border: none; border-radius: 4px; }"
        "QProgressBar::chunk { background-color: #2f80ed; border-radius: 4px; }");
    // At least the design's size where the screen has room for it (the
    // window would otherwise take its scroll area's small default), scrolling
    // where it has not.
    const QSize fitted = fittedSize();
    setMinimumSize(fitted);
    resize(fitted);
    render();
    engine_->start();
}

void ViewController::render() {
    const UpdateSnapshot snapshot = engine_->snapshot();
    WindowState state;
    static_cast<UpdateSnapshot&>(state) = snapshot;
    state.title = tr(kTitle).arg(QString::fromLatin1(kBuiltinDate)).toStdString();
    state.translate = [](const char* source) {
        return QCoreApplication::translate("WindowState", source).toStdString();
    };
    if (snapshot.complete && snapshot.sta == Util::UpSta::suc) {
        // "Update complete!" is said over the view of the update it ends,
        // while the controller restarts: that view stays, without the
        // controller's name and version, until the dialog is read or the
        // controller is back.
        ui_->prodLabel->clear();
        ui_->FWLabel->clear();
    } else {
        showWindow(windowFor(state));
        growToContent();
    }
    // Several controllers and nothing running: the station's window can take
    // them all (the window itself offers none of them). It takes the focus
    // as it appears, being the one action left.
    const bool several = snapshot.controllersAttached > 1 && snapshot.sta == Util::UpSta::none;
    if (several != ui_->stationBut->isVisibleTo(this)) {
        ui_->stationBut->setVisible(several);
        if (several) {
            ui_->stationBut->setFocus(Qt::OtherFocusReason);
        }
    }
    // The replug alert is up while the engine asks for it.
    if (snapshot.replugAlert && !alert_->shown) {
        alert_->present();
    } else if (!snapshot.replugAlert && alert_->shown) {
        alert_->dismiss();
    }
    if (snapshot.complete && !completionShown_) {
        completionShown_ = true;
        QMetaObject::invokeMethod(this, &ViewController::showCompletion, Qt::QueuedConnection);
    }
}

void ViewController::growToContent() {
    // A longer text (a failure's cause, a translation) makes the window
    // taller while the screen has room; it never shrinks under the user.
    const QSize fitted = fittedSize();
    if (fitted.height() > height() || fitted.width() > width()) {
        resize(size().expandedTo(fitted));
    }
}

void ViewController::showProgressLine(const ProgressLine& line) {
    const QString text = UpdateEngine::progressText(line);
    ui_->stageLabel->setText(text);
    emit progressLineShown(text);
}

void ViewController::showWindow(const WindowView& view) {
    setPlain(ui_->titleLabel, view.title);
    setPlain(ui_->prodLabel, view.product);
    setPlain(ui_->FWLabel, view.firmware);
    if (view.failure) {
        ui_->msgLabel->setTextFormat(Qt::RichText);
        ui_->msgLabel->setText(failureText(view.message));
    } else {
        setPlain(ui_->msgLabel, view.message);
    }
    ui_->progress->setHidden(!view.progressShown);
    ui_->stageLabel->setHidden(!view.progressShown);
    ui_->cancelBut->setHidden(!view.cancelShown);
    ui_->copyDetailsBut->setHidden(!view.detailsShown);
    ui_->closeBut->setHidden(!view.closeShown);
    ui_->FailedOKBut->setHidden(!view.okShown);
    if (!view.detailsShown) {
        copiedTimer_->stop();
        ui_->copyDetailsBut->setText(tr("Copy details"));
    }
    ImageButton* leftBut = ui_->leftBut;
    ImageButton* rightBut = ui_->rightBut;
    leftBut->setEnabled(view.leftEnabled);
    rightBut->setEnabled(view.rightEnabled);
    if (view.modeChosen) {
        leftBut->setImages("button_ok", "button_ok_press");
        leftBut->setText(tr("OK"));
        leftBut->setAccessibleDescription(tr("Starts the update shown above"));
        rightBut->setImages("button_cancel", "button_cancel_press");
        rightBut->setText(tr("CANCEL"));
        rightBut->setAccessibleDescription(tr("Goes back without updating"));
    } else {
        leftBut->setImages("button_onlineUpdate", "button_onlineUpdate_press");
        leftBut->setText(tr("UPDATE TO NEWEST"));
        leftBut->setAccessibleDescription(
            tr("Prepares the newest firmware release and asks before installing it"));
        rightBut->setImages("button_offlineUpdate", "button_offlineUpdate_press");
        rightBut->setText(tr("UPDATE TO PREVIOUS"));
        rightBut->setAccessibleDescription(
            tr("Lets you choose an earlier release or firmware files from your disk"));
    }
    // A failure or a verified update is told to screen readers as it appears.
    if (!view.announced) {
        announce(ui_->msgLabel, false);
    } else if (view.message != shown_.message || !shown_.announced) {
        announce(ui_->msgLabel);
    }
    // The primary action of a new screen takes the focus (a screen that keeps
    // its primary action leaves the focus where the user put it).
    if (view.focus != shown_.focus || view.modeChosen != shown_.modeChosen) {
        QWidget* primary = nullptr;
        switch (view.focus) {
            case WindowView::Focus::ok:
                primary = ui_->FailedOKBut;
                break;
            case WindowView::Focus::left:
                primary = leftBut;
                break;
            case WindowView::Focus::unchanged:
                break;
        }
        if (primary != nullptr) {
            primary->setFocus(Qt::OtherFocusReason);
        }
    }
    shown_ = view;
}

void ViewController::showCompletion() {
    QMessageBox done(this);
    // The tool's own icon: a success is no warning.
    QIcon icon = windowIcon();
    if (icon.isNull()) {
        icon = QIcon(QString::fromStdString(engine_->platform().resourcesDir +
                                            "/icons/tarvo-remote-update.png"));
    }
    done.setIconPixmap(icon.pixmap(64, 64));
    done.setText(QString());
    done.setInformativeText(tr("Update complete!"));
    done.setStandardButtons(QMessageBox::NoButton);
    done.addButton(tr("OK"), QMessageBox::AcceptRole);
    done.setTextFormat(Qt::PlainText);
    done.exec();
    completionShown_ = false;
    engine_->acknowledgeSuccess();
}

void ViewController::leftClick() {
    engine_->updateToNewest();
}

void ViewController::rightClick() {
    switch (engine_->chooseEarlier()) {
        case UpdateEngine::EarlierChoice::busy:
        case UpdateEngine::EarlierChoice::cancelled:
            return;
        case UpdateEngine::EarlierChoice::needsNetwork: {
            QPointer<ViewController> self(this);
            postToMain([self] {
                if (self) {
                    self->showNote(tr("Internet connection required to update to previous"), true);
                }
            });
            return;
        }
        case UpdateEngine::EarlierChoice::choose: {
            QPointer<ViewController> self(this);
            postToMain([self] {
                if (self) {
                    self->presentChooser();
                }
            });
            return;
        }
    }
}

void ViewController::click() {
    const UpdateSnapshot snapshot = engine_->snapshot();
    if (!snapshot.hasNetwork && snapshot.sta == Util::UpSta::none) {
        // Offline, the chooser offers the local-file choice.
        QPointer<ViewController> self(this);
        postToMain([self] {
            if (self) {
                // The window's own offer text, in the same translation.
                self->showNote(QCoreApplication::translate(
                                   "WindowState", "*Update Recommanded Click \"UPDATE TO NEWEST\""),
                               false);
                self->presentChooser();
            }
        });
        return;
    }
    engine_->acknowledgeFailure();
}

void ViewController::showNote(const QString& text, bool okShown) {
    ui_->msgLabel->setTextFormat(Qt::PlainText);
    ui_->msgLabel->setText(text);
    ui_->FailedOKBut->setHidden(!okShown);
    growToContent();
}

void ViewController::presentChooser() {
    auto* chooser = new SelViewController(this);
    chooser->engine = engine_.get();
    chooser->dataArr = engine_->snapshot().releases;
    openChooser_ = chooser;
    chooser->present();
}

void ViewController::copyDetails() {
    QGuiApplication::clipboard()->setText(QString::fromStdString(engine_->supportDetails()));
    // Said on the button (and so to screen readers, as its name changes) for
    // a few seconds.
    ui_->copyDetailsBut->setText(tr("Copied"));
    copiedTimer_->start();
}

void ViewController::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && shown_.modeChosen && shown_.rightEnabled) {
        rightClick();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ViewController::closeClick() {
    // Nothing is saved and nothing needs stopping: end the process at once,
    // once the log lines queued so far are out (a stuck reader of standard
    // output delays this by a second at most). Ending the process would also
    // drop the sleep inhibitor; it is given back first all the same.
    engine_->prepareExit();
    flushLog(1.0);
    std::fflush(stdout);
    std::_Exit(0);
}

void ViewController::closeButtonClicked() {
    // The button is shown during the final-step wait and on its failure
    // screen too: there, as for the window manager's close, it asks first.
    if (engine_->updateRunning() && !confirmCloseDuringUpdate(this)) {
        return;
    }
    closeClick();
}

void ViewController::closeEvent(QCloseEvent* event) {
    // Outside an update the window manager's close does what the close button
    // does. During one it asks first: an erased controller without its image
    // and firmware does not start.
    if (engine_->updateRunning() && !confirmCloseDuringUpdate(this)) {
        event->ignore();
        return;
    }
    closeClick();
}

void ViewController::showAbout() {
    auto* about = new QMessageBox(this);
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->setWindowTitle(tr("About %1").arg(QApplication::applicationName()));
    about->setIconPixmap(windowIcon().pixmap(64, 64));
    about->setTextFormat(Qt::PlainText);
    about->setText(tr("Tarvo Remote Firmware Update %1").arg(QStringLiteral(TARVO_VERSION)));
    about->setInformativeText(
        tr("Built-in firmware release: %1 (%2)\nSupport log: %3")
            .arg(QString::fromLatin1(kBuiltinVersion), QString::fromLatin1(kBuiltinDate),
                 QString::fromStdString(defaultLogDirectory() + "/" + kLogFileName)));
    about->addButton(tr("Close"), QMessageBox::AcceptRole);
    about->open();
}

}  // namespace tarvo
