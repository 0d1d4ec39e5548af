#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <vector>

#include "tcontroller/station/station_row.h"

namespace tarvo {

// The station's controllers as a table: one row per StationRow, in the order
// the station gives them (port order). Rows are only ever added or changed,
// so a selection or the keyboard's place in the view stays where it was
// while updates run. Main thread.
class StationTableModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    enum class Column { port, model, firmware, stage, result };
    static constexpr int kColumns = 5;

    explicit StationTableModel(QObject* parent = nullptr);

    // Takes the station's rows: a row whose port is new is inserted where it
    // stands in `rows`, a changed row is reported as changed, an unchanged one
    // is left alone.
    void setRows(std::vector<StationRow> rows);
    const std::vector<StationRow>& rows() const { return rows_; }

    // The colour the view paints its cells on; verified and failed results
    // are drawn in a green and a red that stand out from it by at least 4.5:1.
    void setBaseColor(const QColor& base);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // The texts of a row's cells: `full` gives a failure's whole reason (the
    // tooltip, screen readers), otherwise its first sentence.
    static QString text(const StationRow& row, Column column, bool full = false);
    // The first sentence (or line) of a failure's reason.
    static QString shortReason(const std::string& reason);
    // `wanted`'s hue made lighter or darker until it has a contrast of at
    // least 4.5:1 against `base`.
    static QColor readableOn(const QColor& wanted, const QColor& base);

  private:
    QVariant foreground(const StationRow& row) const;

    std::vector<StationRow> rows_;
    QColor base_;
};

}  // namespace tarvo
