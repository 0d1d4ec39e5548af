#include "tcontroller/ui/station/station_table_model.h"

#include <QGuiApplication>
#include <QPalette>
#include <QTextDocument>
#include <algorithm>
#include <cmath>

namespace tarvo {
namespace {

// The contrast ratio of two colours as the accessibility guidelines define
// it: 1 for equal colours, up to 21 for black on white.
double contrast(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

constexpr double kReadableContrast = 4.5;
const QColor kVerifiedHue(0x2e, 0xa0, 0x43);
const QColor kFailedHue(0xe5, 0x39, 0x35);

QString fromStd(const std::string& text) {
    return QString::fromStdString(text);
}

QString stageWords(UpdateStage stage) {
    switch (stage) {
        case UpdateStage::erase:
            return StationTableModel::tr("Erasing");
        case UpdateStage::transfer:
            return StationTableModel::tr("Sending firmware");
        case UpdateStage::finalStep:
            return StationTableModel::tr("Restarting as its drive");
        case UpdateStage::waitingForDrive:
            return StationTableModel::tr("Waiting for its drive CRP DISABLE");
        case UpdateStage::firmwareWrite:
            return StationTableModel::tr("Writing firmware");
        case UpdateStage::verification:
            return StationTableModel::tr("Verifying");
        case UpdateStage::download:
            return StationTableModel::tr("Downloading");
        case UpdateStage::none:
            break;
    }
    return StationTableModel::tr("Starting");
}

// "Sending firmware – 57 %, 12 s left": the stage, then what is known of the
// whole update's percent and the stage's seconds.
QString stageText(const StationRow& row) {
    QStringList known;
    if (row.percent >= 0) {
        known << StationTableModel::tr("%1 %").arg(row.percent);
    }
    if (row.secondsLeft >= 0) {
        known << StationTableModel::tr("%1 s left").arg(row.secondsLeft);
    }
    const QString name = stageWords(row.stage);
    return known.isEmpty() ? name
                           : name + QStringLiteral(" \u2013 ") + known.join(QStringLiteral(", "));
}

QString firmwareText(const StationRow& row) {
    if (row.after.empty() || row.after == row.before) {
        return fromStd(row.before.empty() ? row.after : row.before);
    }
    if (row.before.empty()) {
        return fromStd(row.after);
    }
    return fromStd(row.before) + QStringLiteral(" \u2192 ") + fromStd(row.after);
}

QString resultText(const StationRow& row, bool full) {
    switch (row.state) {
        case StationRow::State::verified:
            return StationTableModel::tr("Verified");
        case StationRow::State::failed: {
            const QString reason =
                full ? fromStd(row.reason).trimmed() : StationTableModel::shortReason(row.reason);
            if (row.failedStep.empty()) {
                return reason.isEmpty() ? StationTableModel::tr("Failed")
                                        : StationTableModel::tr("Failed: %1").arg(reason);
            }
            return reason.isEmpty()
                       ? StationTableModel::tr("Failed: %1").arg(fromStd(row.failedStep))
                       : StationTableModel::tr("Failed: %1 \u2013 %2")
                             .arg(fromStd(row.failedStep), reason);
        }
        case StationRow::State::idle:
        case StationRow::State::queued:
        case StationRow::State::updating:
            break;
    }
    // It answered, but as another model: the station leaves it alone.
    if (!row.supported && !row.model.empty()) {
        return StationTableModel::tr("Not a Tarvo Remote");
    }
    return {};
}

}  // namespace

StationTableModel::StationTableModel(QObject* parent)
    : QAbstractTableModel(parent), base_(QGuiApplication::palette().color(QPalette::Base)) {}

void StationTableModel::setRows(std::vector<StationRow> rows) {
    const auto samePort = [](const std::string& port) {
        return [&port](const StationRow& row) { return row.port == port; };
    };
    // The station never drops a port; should one go all the same, its row goes.
    for (std::size_t i = rows_.size(); i-- > 0;) {
        if (std::none_of(rows.begin(), rows.end(), samePort(rows_[i].port))) {
            beginRemoveRows({}, static_cast<int>(i), static_cast<int>(i));
            rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(i));
            endRemoveRows();
        }
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const int at = static_cast<int>(i);
        if (i >= rows_.size() || rows_[i].port != rows[i].port) {
            const auto later =
                std::find_if(rows_.begin() + at, rows_.end(), samePort(rows[i].port));
            if (later == rows_.end()) {
                // New ports: the run of them that starts here, inserted at once.
                std::size_t end = i + 1;
                while (end < rows.size() &&
                       std::none_of(rows_.begin() + at, rows_.end(), samePort(rows[end].port))) {
                    ++end;
                }
                beginInsertRows({}, at, static_cast<int>(end) - 1);
                rows_.insert(
                    rows_.begin() + at, std::make_move_iterator(rows.begin() + at),
                    std::make_move_iterator(rows.begin() + static_cast<std::ptrdiff_t>(end)));
                endInsertRows();
                i = end - 1;
                continue;
            }
            // A port seen before, further down: moved up to its place.
            const int from = static_cast<int>(later - rows_.begin());
            beginMoveRows({}, from, from, {}, at);
            std::rotate(rows_.begin() + at, later, later + 1);
            endMoveRows();
        }
        if (!(rows_[i] == rows[i])) {
            rows_[i] = std::move(rows[i]);
            emit dataChanged(index(at, 0), index(at, kColumns - 1));
        }
    }
}

void StationTableModel::setBaseColor(const QColor& base) {
    if (base == base_) {
        return;
    }
    base_ = base;
    if (!rows_.empty()) {
        const int result = static_cast<int>(Column::result);
        emit dataChanged(index(0, result), index(rowCount() - 1, result), {Qt::ForegroundRole});
    }
}

int StationTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int StationTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QVariant StationTableModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    const StationRow& row = rows_[static_cast<std::size_t>(index.row())];
    const auto column = static_cast<Column>(index.column());
    switch (role) {
        case Qt::DisplayRole:
            return text(row, column);
        case Qt::ToolTipRole: {
            // Escaped: a reason or a model code is shown as the plain text it is.
            const QString full = text(row, column, true);
            return full.isEmpty() ? QVariant()
                                  : Qt::convertFromPlainText(full, Qt::WhiteSpaceNormal);
        }
        case Qt::AccessibleTextRole:
            // Said rather than read as an arrow.
            if (column == Column::firmware && !row.before.empty() && !row.after.empty() &&
                row.before != row.after) {
                return tr("%1 to %2").arg(fromStd(row.before), fromStd(row.after));
            }
            return text(row, column, true);
        case Qt::ForegroundRole:
            return column == Column::result ? foreground(row) : QVariant();
        default:
            return {};
    }
}

QVariant StationTableModel::foreground(const StationRow& row) const {
    switch (row.state) {
        case StationRow::State::verified:
            return readableOn(kVerifiedHue, base_);
        case StationRow::State::failed:
            return readableOn(kFailedHue, base_);
        default:
            return {};
    }
}

QVariant StationTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    switch (static_cast<Column>(section)) {
        case Column::port:
            return tr("Port");
        case Column::model:
            return tr("Model");
        case Column::firmware:
            return tr("Firmware");
        case Column::stage:
            return tr("Stage");
        case Column::result:
            return tr("Result");
    }
    return {};
}

QString StationTableModel::text(const StationRow& row, Column column, bool full) {
    switch (column) {
        case Column::port:
            return fromStd(row.port);
        case Column::model:
            return fromStd(row.model);
        case Column::firmware:
            return firmwareText(row);
        case Column::stage:
            switch (row.state) {
                case StationRow::State::queued:
                    return tr("Waiting for its turn");
                case StationRow::State::updating:
                    return stageText(row);
                case StationRow::State::idle:
                case StationRow::State::verified:
                case StationRow::State::failed:
                    break;
            }
            return row.attached ? QString() : tr("Unplugged");
        case Column::result:
            return resultText(row, full);
    }
    return {};
}

QString StationTableModel::shortReason(const std::string& reason) {
    QString text = fromStd(reason).trimmed();
    const qsizetype line = text.indexOf(QLatin1Char('\n'));
    if (line >= 0) {
        text.truncate(line);
    }
    const qsizetype sentence = text.indexOf(QLatin1String(". "));
    if (sentence >= 0) {
        text.truncate(sentence + 1);
    }
    return text.trimmed();
}

QColor StationTableModel::readableOn(const QColor& wanted, const QColor& base) {
    if (contrast(wanted, base) >= kReadableContrast) {
        return wanted;
    }
    // Towards white on a dark base, towards black on a light one; one of the
    // two always has more than 4.5:1.
    const bool lighter = contrast(Qt::white, base) >= contrast(Qt::black, base);
    float hue = 0;
    float saturation = 0;
    float lightness = 0;
    wanted.getHslF(&hue, &saturation, &lightness);
    constexpr float kStep = 0.02F;
    QColor shade = wanted;
    while (lighter ? lightness < 1 : lightness > 0) {
        lightness = std::clamp(lightness + (lighter ? kStep : -kStep), 0.0F, 1.0F);
        shade.setHslF(hue, saturation, lightness);
        if (contrast(shade, base) >= kReadableContrast) {
            return shade.toRgb();
        }
    }
    return lighter ? QColor(Qt::white) : QColor(Qt::black);
}

}  // namespace tarvo
