#include "tcontroller/ui/dialogs/sel_view_controller.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <algorithm>
#include <initializer_list>

#include "tcontroller/base/log.h"
#include "tcontroller/catalogue/firmware_names.h"
#include "tcontroller/ui/announce.h"
#include "tcontroller/ui/dialogs/notification_center.h"
#include "tcontroller/ui/dialogs/ver_view.h"
#include "tcontroller/ui/focus_ring.h"
#include "tcontroller/update/update_engine.h"
#include "ui_sel_view_controller.h"

namespace tarvo {
namespace {

constexpr int kMaxVersionRows = 2;
constexpr int kRowX = 10;
constexpr int kRowWidth = 460;
// Row slots, counted in points from the content's bottom edge (the row's lower
// edge): the top slot first.
constexpr int kBottomSlotY = 90;

const QColor kSelectedBackground = Qt::white;
const QColor kSelectedText(85, 85, 85);  // dark gray
const QColor kRowText = Qt::white;
const QColor kBorder(72, 72, 72);

// Room between the problem text and the buttons it pushes down.
constexpr int kProblemGap = 8;

// The frame of row slot `slot` (0 = top) in Qt's top-left coordinates.
QRect rowFrame(int slot) {
    const int bottomUpY = kBottomSlotY + VerView::kHeight * (kMaxVersionRows - slot);
    const int top = SelViewController::kContentHeight - (bottomUpY + VerView::kHeight);
    return QRect(kRowX, top, kRowWidth, VerView::kHeight);
}

// The notification's object as a row index: an integer, else -1.
std::int64_t indexFrom(const QVariant& object) {
    switch (object.metaType().id()) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Long:
        case QMetaType::ULong:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Short:
        case QMetaType::UShort:
            return object.toLongLong();
        default:
            return -1;
    }
}

}  // namespace

SelViewController::SelViewController(QWidget* parent)
    : QDialog(parent),
      bColor(QColor::fromRgbF(50 / 255.0, 50 / 255.0, 50 / 255.0, 1.0)),
      ui_(std::make_unique<::Ui::SelViewController>()) {
    // The queue's thread needs a clock only for delayed jobs, which the OK job
    // never uses.
    static SystemClock queueClock;
    queue = std::make_unique<WorkQueue>("com.online.fw", queueClock);
    installChooserAccessibility();
    ui_->setupUi(this);
    okBut = ui_->okBut;
    cancelBut = ui_->cancelBut;
    ui_->listView->setFocusPolicy(Qt::StrongFocus);
    ui_->listView->setAccessibleName(tr("Firmware versions"));
    ui_->listView->setAccessibleDescription(
        tr("Choose with the arrow keys; Enter installs the chosen one, Escape cancels"));
    okBut->setAccessibleDescription(tr("Uses the chosen version"));
    cancelBut->setAccessibleDescription(tr("Closes the chooser without a change"));
    makeAnnounceable(ui_->problemLabel);
    ui_->problemLabel->setAccessibleDescription(tr("Why the chosen files were not used"));
    ui_->problemLabel->hide();
    buttonsTop_ = okBut->y();
    showFocusRingForKeyboard(okBut);
    showFocusRingForKeyboard(cancelBut);
    setTabOrder(ui_->listView, cancelBut);
    setTabOrder(cancelBut, okBut);
    connect(okBut, &QPushButton::clicked, this, &SelViewController::okClick);
    connect(cancelBut, &QPushButton::clicked, this, &SelViewController::cancelClick);
    viewDidLoad();
    viewWillAppear();
}

SelViewController::~SelViewController() {
    // Waits for a running OK job, which still reads the fields below.
    queue.reset();
}

QWidget* SelViewController::listView() const {
    return ui_->listView;
}

QLabel* SelViewController::problemLabel() const {
    return ui_->problemLabel;
}

void SelViewController::showProblem(const QString& text) {
    QLabel* label = ui_->problemLabel;
    label->setText(text);
    label->setAccessibleName(text);
    int grow = 0;
    if (!text.isEmpty()) {
        // Wrapped to the label's width, as high as its lines need: long
        // translations and file names are never cut.
        label->ensurePolished();
        label->resize(label->width(), label->heightForWidth(label->width()));
        grow = label->height() + kProblemGap;
    }
    label->setVisible(!text.isEmpty());
    for (QWidget* below :
         std::initializer_list<QWidget*>{ui_->hintLabel, ui_->cancelBut, ui_->okBut}) {
        below->move(below->x(), buttonsTop_ + grow);
    }
    setFixedSize(kContentWidth, kContentHeight + grow);
    // Screen readers announce it without the focus moving there.
    announce(label, !text.isEmpty());
}

void SelViewController::viewDidLoad() {
    // `this` as the context: the registration ends with the chooser.
    connect(&NotificationCenter::defaultCenter(), &NotificationCenter::notified, this,
            [this](const QString& name, const QVariant& object) {
                if (name == QStringLiteral("myViewClick")) {
                    viewClickedWithNoti(object);
                }
            });
}

void SelViewController::viewWillAppear() {
    // No title bar, no close, minimise or zoom control, not resizable. Qt reads
    // the flags when the native window is made, so they are set before the
    // first show.
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setWindowModality(Qt::ApplicationModal);
    setFixedSize(kContentWidth, kContentHeight);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, bColor);
    palette.setColor(QPalette::WindowText, Qt::white);
    setPalette(palette);
    setAutoFillBackground(true);
}

void SelViewController::present() {
    show();
    activateWindow();
}

void SelViewController::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!appeared_) {
        appeared_ = true;
        viewDidAppear();
    }
}

void SelViewController::viewDidAppear() {
    for (const Util::Histoty& h : dataArr) {
        if (h.ver == kBuiltinVersion) {
            continue;
        }
        // Only versions that get a row are kept, so the file row's index is
        // always the number of version rows.
        if (static_cast<int>(tmpArr.size()) < kMaxVersionRows) {
            tmpArr.push_back(h);
        }
    }
    const auto addRow = [this](int slot, const QString& text) {
        // Rows are the list view's only children, created in row order, so a
        // row's position among them is its index.
        auto* row = new VerView(rowFrame(slot), ui_->listView);
        row->setBackgroundColor(Qt::transparent);
        row->label->setText(text);
        row->show();
        viewArr.push_back(row);
    };
    const int n = static_cast<int>(tmpArr.size());
    for (int i = 0; i < n; ++i) {
        const Util::Histoty& h = tmpArr[i];
        addRow(i, tr("Version V%1 [%2]")
                      .arg(QString::fromStdString(h.ver), QString::fromStdString(h.date)));
    }
    addRow(n, tr("Select from FW file"));
    ui_->listView->setFocus(Qt::OtherFocusReason);
}

void SelViewController::viewClickedWithNoti(const QVariant& object) {
    const std::int64_t before = idx.exchange(indexFrom(object));
    // What was said about refused files does not concern another row.
    if (idx.load() != before && !ui_->problemLabel->isHidden()) {
        showProblem({});
    }
    logLine("click view @ index: " + std::to_string(idx.load()));
    recolour();
}

void SelViewController::recolour() {
    const std::int64_t selected = idx.load();
    for (std::size_t k = 0; k < viewArr.size(); ++k) {
        const bool on = selected >= 0 && static_cast<std::size_t>(selected) == k;
        viewArr[k]->setBackgroundColor(on ? kSelectedBackground : QColor(Qt::transparent));
        viewArr[k]->setTextColor(on ? kSelectedText : kRowText);
        viewArr[k]->setSelected(on);
    }
}

void SelViewController::okClick() {
    const std::int64_t selected = idx.load();
    // No selection, or an index that names no row: nothing to do.
    if (selected < 0 || selected >= static_cast<std::int64_t>(viewArr.size())) {
        return;
    }
    QPointer<SelViewController> self(this);
    queue->async([this, self] { runOkJob(self); });
}

void SelViewController::runOkJob(const QPointer<SelViewController>& self) {
    // tmpArr is fixed once the list is built, before any OK can be pressed.
    const std::int64_t row = idx.load();
    const auto versionRows = static_cast<std::int64_t>(tmpArr.size());
    if (row < 0 || row > versionRows) {
        return;
    }
    if (row == versionRows) {
        postToMain([self] {
            if (self) {
                self->selectLocalFiles();
            }
        });
        return;
    }
    postToMain([self] {
        if (self) {
            self->okBut->setEnabled(false);
            self->cancelBut->setEnabled(false);
        }
    });
    const Util::Histoty h = tmpArr[static_cast<std::size_t>(row)];
    if (engine != nullptr && !engine->updateTo(h).ok()) {
        logLine("download file failed.");
    }
    postToMain([self] {
        if (self) {
            self->dismissController();
        }
    });
}

void SelViewController::cancelClick() {
    dismissController();
}

void SelViewController::reject() {
    if (cancelBut && cancelBut->isEnabled()) {
        cancelClick();
    }
}

void SelViewController::keyPressEvent(QKeyEvent* event) {
    const auto rows = static_cast<std::int64_t>(viewArr.size());
    const std::int64_t at = idx.load();
    std::int64_t next = -1;
    switch (event->key()) {
        case Qt::Key_Up:
            next = at < 0 ? rows - 1 : std::max<std::int64_t>(at - 1, 0);
            break;
        case Qt::Key_Down:
            next = at < 0 ? 0 : std::min(at + 1, rows - 1);
            break;
        case Qt::Key_Home:
            next = 0;
            break;
        case Qt::Key_End:
            next = rows - 1;
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            // On a focused button Enter presses that button; on the list it is OK.
            if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
                if (button->isEnabled()) {
                    button->click();
                }
                return;
            }
            if (okBut && okBut->isEnabled()) {
                okClick();
            }
            return;
        default:
            QDialog::keyPressEvent(event);
            return;
    }
    if (next >= 0 && next != at) {
        // The same path as a press on the row.
        viewClickedWithNoti(QVariant(static_cast<int>(next)));
    }
}

void SelViewController::dismissController() {
    done(QDialog::Rejected);
    hide();
    deleteLater();
}

void SelViewController::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    // A hairline edge keeps the frameless window apart from what lies behind it.
    QPainter painter(this);
    painter.setPen(kBorder);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace tarvo
