// The station's window: the controllers' table and the commands for all of them.
#include "tcontroller/ui/station/station_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

#include "tcontroller/base/log.h"
#include "tcontroller/catalogue/builtin_files.h"
#include "tcontroller/catalogue/version.h"
#include "tcontroller/station/station.h"
#include "tcontroller/ui/announce.h"
#include "tcontroller/ui/close_question.h"
#include "tcontroller/ui/focus_ring.h"
#include "tcontroller/ui/station/station_table_model.h"

namespace tarvo {
namespace {

// The main window's colours as a palette, so the table, the release box and
// the check box are drawn by the system style in the same dark scheme (each
// text at least 4.5:1 on its background).
QPalette darkPalette() {
    QPalette p;
    const QColor text(0xe6, 0xe9, 0xef);
    const QColor muted(0x9a, 0xa3, 0xb2);
    p.setColor(QPalette::Window, QColor(0x1f, 0x23, 0x29));
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, QColor(0x26, 0x2b, 0x33));
    p.setColor(QPalette::AlternateBase, QColor(0x2b, 0x31, 0x3a));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x2f, 0x35, 0x40));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::Highlight, QColor(0x2a, 0x6f, 0xd1));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::PlaceholderText, muted);
    p.setColor(QPalette::Light, QColor(0x4a, 0x52, 0x60));
    p.setColor(QPalette::Midlight, QColor(0x3a, 0x40, 0x4a));
    p.setColor(QPalette::Mid, QColor(0x33, 0x39, 0x43));
    p.setColor(QPalette::Dark, QColor(0x15, 0x18, 0x1c));
    p.setColor(QPalette::Shadow, Qt::black);
    p.setColor(QPalette::Link, QColor(0x5b, 0x9c, 0xf5));
    for (const QPalette::ColorRole role :
         {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        p.setColor(QPalette::Disabled, role, muted);
    }
    return p;
}

// The primary button as the main window draws its OK: white on blue, with a
// white ring while it has the focus from the keyboard.
const char* const kPrimaryStyle =
    "QPushButton { background-color: #2a6fd1; color: white; border: none; border-radius: 6px;"
    " padding: 6px 24px; font-weight: bold; }"
    "QPushButton:pressed { background-color: #1f5fb8; }"
    "QPushButton:disabled { background-color: #3a404a; color: #9aa3b2; }"
    "QPushButton[keyboardFocus=\"true\"] { border: 3px solid #ffffff; padding: 3px 21px; }";

// How many controllers Update all asks for `target`, as the station chooses
// them: attached and supported, and idle, failed, or verified to an older one.
int candidates(const std::vector<StationRow>& rows, const std::string& target) {
    return static_cast<int>(std::count_if(rows.begin(), rows.end(), [&](const StationRow& row) {
        if (!row.attached || !row.supported) {
            return false;
        }
        switch (row.state) {
            case StationRow::State::idle:
            case StationRow::State::failed:
                return true;
            case StationRow::State::verified:
                return isNewer(target, row.after);
            case StationRow::State::queued:
            case StationRow::State::updating:
                break;
        }
        return false;
    }));
}

// Newest first, each once, the built-in release among them.
std::vector<std::string> offeredVersions(std::vector<std::string> versions) {
    versions.emplace_back(kBuiltinVersion);
    std::stable_sort(versions.begin(), versions.end(),
                     [](const std::string& a, const std::string& b) { return isNewer(a, b); });
    versions.erase(std::unique(versions.begin(), versions.end()), versions.end());
    return versions;
}

}  // namespace

StationWindow::StationWindow(Station& station, QWidget* parent)
    : QWidget(parent), station_(station) {
    setWindowFlag(Qt::Window);
    setWindowTitle(tr("Tarvo Remote Firmware Update \u2013 Station"));
    setPalette(darkPalette());
    setAutoFillBackground(true);

    summary_ = new QLabel(this);

    summary_->setObjectName(QStringLiteral("stationSummary"));
    summary_->setTextFormat(Qt::PlainText);

    model_ = new StationTableModel(this);
    table_ = new QTableView(this);
    table_->setObjectName(QStringLiteral("stationTable"));
    table_->setModel(model_);
    table_->setAccessibleName(tr("Controllers"));
    table_->setAccessibleDescription(tr("Each controller the station has seen and its update"));
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab leaves the table for the controls below; the arrow keys move in it.
    table_->setTabKeyNavigation(false);
    table_->setWordWrap(false);
    table_->verticalHeader()->hide();
    QHeaderView* header = table_->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setStretchLastSection(true);
    const QFontMetrics metrics(table_->font());
    const auto widthOf = [&metrics](const QString& sample) {
        return metrics.horizontalAdvance(sample) + 2 * metrics.averageCharWidth() + 8;
    };
    table_->setColumnWidth(static_cast<int>(StationTableModel::Column::port),
                           widthOf(QStringLiteral("1-10.4.4")));
    table_->setColumnWidth(static_cast<int>(StationTableModel::Column::model),
                           widthOf(QStringLiteral("Model")));
    table_->setColumnWidth(static_cast<int>(StationTableModel::Column::firmware),
                           widthOf(QStringLiteral("1.10 \u2192 1.12")));
    table_->setColumnWidth(static_cast<int>(StationTableModel::Column::stage),
                           widthOf(QStringLiteral("Sending firmware \u2013 100 %, 100 s left")));
    model_->setBaseColor(table_->palette().color(QPalette::Base));

    status_ = new QLabel(this);

    status_->setObjectName(QStringLiteral("stationStatus"));
    status_->setTextFormat(Qt::PlainText);
    status_->setWordWrap(true);
    makeAnnounceable(status_);

    release_ = new QComboBox(this);

    release_->setObjectName(QStringLiteral("releaseBox"));
    release_->setAccessibleName(tr("Firmware release"));
    auto* releaseLabel = new QLabel(tr("Firmware &release:"), this);
    releaseLabel->setBuddy(release_);

    updateAll_ = new QPushButton(tr("Update all"), this);

    updateAll_->setObjectName(QStringLiteral("updateAllBut"));
    updateAll_->setAccessibleDescription(
        tr("Installs the chosen release on every controller that needs it, after one question"));
    updateAll_->setDefault(true);
    updateAll_->setAutoDefault(true);
    updateAll_->setCursor(Qt::PointingHandCursor);
    updateAll_->setStyleSheet(QString::fromLatin1(kPrimaryStyle));
    showFocusRingForKeyboard(updateAll_);

    onPlug_ = new QCheckBox(tr("Update each controller when it is plugged in"), this);

    onPlug_->setObjectName(QStringLiteral("updateOnPlugBox"));
    onPlug_->setAccessibleDescription(
        tr("Each controller plugged in from now on gets the chosen release without a question"));
    onPlug_->setChecked(station_.updateOnPlug());

    close_ = new QPushButton(tr("Close"), this);

    close_->setObjectName(QStringLiteral("closeBut"));
    close_->setAccessibleDescription(tr("Closes the station view"));
    close_->setAutoDefault(true);

    auto* commands = new QHBoxLayout;
    commands->addWidget(releaseLabel);
    commands->addWidget(release_);
    commands->addSpacing(12);
    commands->addWidget(updateAll_);
    commands->addStretch(1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(onPlug_);
    bottom->addStretch(1);
    bottom->addWidget(close_);
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(18, 16, 18, 16);
    root->setSpacing(10);
    root->addWidget(summary_);
    root->addWidget(table_, 1);
    root->addWidget(status_);
    root->addLayout(commands);
    root->addLayout(bottom);

    setTabOrder(table_, release_);
    setTabOrder(release_, updateAll_);
    setTabOrder(updateAll_, onPlug_);
    setTabOrder(onPlug_, close_);

    connect(updateAll_, &QAbstractButton::clicked, this, &StationWindow::updateAllClicked);
    connect(onPlug_, &QAbstractButton::toggled, this, &StationWindow::updateOnPlugToggled);
    connect(close_, &QAbstractButton::clicked, this, &QWidget::close);
    connect(release_, &QComboBox::currentIndexChanged, this, [this] {
        if (onPlug_->isChecked()) {
            station_.setUpdateOnPlug(true, chosenVersion());
        }
        refresh();
    });
    connect(&station_, &Station::rowsChanged, this, &StationWindow::refresh);
    connect(&station_, &Station::finished, this, &StationWindow::rowFinished);

    resize(820, 440);
    refresh();
    table_->setFocus(Qt::OtherFocusReason);
}

StationWindow::~StationWindow() = default;

void StationWindow::refresh() {
    const std::vector<StationRow> rows = station_.rows();
    int updating = 0;
    int verified = 0;
    int failed = 0;
    for (const StationRow& row : rows) {
        switch (row.state) {
            case StationRow::State::queued:
            case StationRow::State::updating:
                ++updating;
                break;
            case StationRow::State::verified:
                ++verified;
                break;
            case StationRow::State::failed:
                ++failed;
                break;
            case StationRow::State::idle:
                break;
        }
    }
    const QString controllers = rows.size() == 1
                                    ? tr("1 controller")
                                    : tr("%1 controllers").arg(static_cast<qsizetype>(rows.size()));
    summary_->setText(tr("%1, %2 updating, %3 verified, %4 failed")
                          .arg(controllers, QString::number(updating), QString::number(verified),
                               QString::number(failed)));
    fillReleases(station_.releaseVersions());
    updateAll_->setEnabled(candidates(rows, targetVersion()) > 0);
    model_->setRows(rows);
}

void StationWindow::fillReleases(const std::vector<std::string>& versions) {
    if (versions == releases_ && release_->count() > 0) {
        return;
    }
    releases_ = versions;
    const QString chosen = release_->currentData().toString();
    const std::vector<std::string> offered = offeredVersions(versions);
    {
        const QSignalBlocker quiet(release_);
        release_->clear();
        release_->addItem(tr("Newest (%1)").arg(QString::fromStdString(offered.front())),
                          QString());
        for (const std::string& version : offered) {
            const QString v = QString::fromStdString(version);
            release_->addItem(version == kBuiltinVersion ? tr("%1 (built-in)").arg(v) : v, v);
        }
        release_->setCurrentIndex(std::max(0, release_->findData(chosen)));
    }
    // The chosen release is gone from the list: the newest stands in for it.
    if (release_->currentData().toString() != chosen && onPlug_->isChecked()) {
        station_.setUpdateOnPlug(true, chosenVersion());
    }
}

std::string StationWindow::chosenVersion() const {
    return release_->currentData().toString().toStdString();
}

std::string StationWindow::targetVersion() const {
    const std::string chosen = chosenVersion();
    return chosen.empty() ? offeredVersions(releases_).front() : chosen;
}

void StationWindow::updateAllClicked() {
    const std::string target = targetVersion();
    const int count = candidates(station_.rows(), target);
    if (count == 0) {
        refresh();
        return;
    }
    const QString version = QString::fromStdString(target);
    QMessageBox ask(this);
    ask.setPalette(palette());
    ask.setIcon(QMessageBox::Question);
    ask.setTextFormat(Qt::PlainText);
    ask.setWindowTitle(windowTitle());
    ask.setText(count == 1 ? tr("Install firmware %1 on 1 controller?").arg(version)
                           : tr("Install firmware %1 on %2 controllers?").arg(version).arg(count));
    ask.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    ask.setDefaultButton(QMessageBox::Yes);
    ask.setEscapeButton(QMessageBox::No);
    if (ask.exec() != QMessageBox::Yes) {
        return;
    }
    const int asked = station_.updateAll(target);
    logLine("station view: update all to " + escapeForLog(target) + ", " + std::to_string(asked) +
            " of " + std::to_string(count) + " controllers asked");
    if (asked == 0) {
        // Each one started or changed while the question was open.
        status_->setText(tr("No controller needed an update."));
        announce(status_);
    }
    refresh();
}

void StationWindow::updateOnPlugToggled(bool on) {
    station_.setUpdateOnPlug(on, on ? chosenVersion() : std::string());
}

void StationWindow::rowFinished(const StationRow& row) {
    const QString port = QString::fromStdString(row.port);
    QString text;
    if (row.state == StationRow::State::verified) {
        text = tr("%1: verified %2")
                   .arg(port, QString::fromStdString(row.after.empty() ? row.target : row.after));
    } else {
        const QString reason = StationTableModel::shortReason(row.reason);
        const QString step = QString::fromStdString(row.failedStep);
        if (step.isEmpty()) {
            text = reason.isEmpty() ? tr("%1: failed").arg(port)
                                    : tr("%1: failed \u2013 %2").arg(port, reason);
        } else {
            text = reason.isEmpty() ? tr("%1: failed at %2").arg(port, step)
                                    : tr("%1: failed at %2 \u2013 %3").arg(port, step, reason);
        }
    }
    status_->setText(text);
    announce(status_);
}

void StationWindow::closeEvent(QCloseEvent* event) {
    if (station_.anyPastErase() && !confirmCloseDuringUpdate(this, true)) {
        event->ignore();
        return;
    }
    event->accept();
    emit closed();
}

void StationWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && model_ != nullptr) {
        model_->setBaseColor(table_->palette().color(QPalette::Base));
    }
}

}  // namespace tarvo
