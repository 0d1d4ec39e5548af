// The station's table: what each cell says for a controller's state, the
// signals a new set of rows gives (checked by Qt's model tester), and result
// colours that stay readable on any base.
#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include "chooser_fixture.h"
#include "tcontroller/ui/station/station_table_model.h"

namespace tarvo::test {
namespace {

using State = StationRow::State;

StationRow row(const std::string& port, const std::function<void(StationRow&)>& change = {}) {
    StationRow r;
    r.port = port;
    r.model = "T";
    r.before = "1.1";
    r.attached = true;
    r.supported = true;
    if (change) {
        change(r);
    }
    return r;
}

// The five cells of a row as the table shows them, joined by " | ".
std::string shown(const StationTableModel& model, int at, int role = Qt::DisplayRole) {
    QStringList cells;
    for (int column = 0; column < StationTableModel::kColumns; ++column) {
        cells << model.data(model.index(at, column), role).toString();
    }
    return cells.join(QStringLiteral(" | ")).toStdString();
}

const std::string kReason =
    "The controller was unplugged while the image was sent. Plug it in again <b>now</b>.";

TEST(StationTable, EachStateIsToldInItsCells) {
    const struct {
        StationRow row;
        std::string expected;
    } cases[] = {
        {row("1-1.2"), "1-1.2 | T | 1.1 |  | "},
        {row("1-1.2",
             [](auto& r) {
                 r.model.clear();
                 r.before.clear();
                 r.supported = false;
             }),
         "1-1.2 |  |  |  | "},
        {row("1-1.2", [](auto& r) { r.state = State::queued; }),
         "1-1.2 | T | 1.1 | Waiting for its turn | "},
        {row("1-1.3",
             [](auto& r) {
                 r.state = State::updating;
                 r.stage = UpdateStage::transfer;
                 r.percent = 57;
                 r.secondsLeft = 12;
             }),
         "1-1.3 | T | 1.1 | Sending firmware \u2013 57 %, 12 s left | "},
        {row("1-1.3",
             [](auto& r) {
                 r.state = State::updating;
                 r.stage = UpdateStage::waitingForDrive;
                 r.percent = 80;
                 r.attached = false;  // it is a drive now
             }),
         "1-1.3 | T | 1.1 | Waiting for its drive CRP DISABLE \u2013 80 % | "},
        {row("1-1.4",
             [](auto& r) {
                 r.state = State::verified;
                 r.after = "1.3";
             }),
         "1-1.4 | T | 1.1 \u2192 1.3 |  | Verified"},
        {row("1-1.4",
             [](auto& r) {
                 r.state = State::verified;
                 r.after = "1.1";
             }),
         "1-1.4 | T | 1.1 |  | Verified"},
        {row("1-1.5",
             [](auto& r) {
                 r.state = State::failed;
                 r.failedStep = "transfer";
                 r.reason = kReason;
                 r.attached = false;
             }),
         "1-1.5 | T | 1.1 | Unplugged | Failed: transfer \u2013 The controller was unplugged "
         "while the image was sent."},
        {row("1-1.6",
             [](auto& r) {
                 r.model = "X";
                 r.before.clear();
                 r.supported = false;
             }),
         "1-1.6 | X |  |  | Not a Tarvo Remote"},
    };
    for (const auto& c : cases) {
        StationTableModel model;
        model.setRows({c.row});
        EXPECT_EQ(shown(model, 0), c.expected);
    }
    // The tooltip and screen readers get the whole reason, as plain text; the
    // firmware's arrow is said in words.
    StationTableModel model;
    model.setRows({cases[7].row, cases[5].row});
    const QString tip =
        model.data(model.index(0, int(StationTableModel::Column::result)), Qt::ToolTipRole)
            .toString();
    EXPECT_TRUE(tip.contains(QStringLiteral("Plug it in again &lt;b&gt;now&lt;/b&gt;.")))
        << tip.toStdString();
    EXPECT_EQ(shown(model, 0, Qt::AccessibleTextRole),
              "1-1.5 | T | 1.1 | Unplugged | Failed: transfer \u2013 " + kReason);
    EXPECT_EQ(shown(model, 1, Qt::AccessibleTextRole), "1-1.4 | T | 1.1 to 1.3 |  | Verified");
}

// Qt's model tester checks each change against the model's rules; the spies
// check that only what changed is reported and that a row keeps its identity.
TEST(StationTable, NewRowsAreInsertedAndChangedRowsReportedWithoutAReset) {
    StationTableModel model;
    QStringList complaints;
    static QStringList* sink = nullptr;
    sink = &complaints;
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& text) { *sink << text; });
    {
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::Warning);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);

        model.setRows({row("1-1"), row("1-4")});
        const QPersistentModelIndex last = model.index(1, 0);
        model.setRows({row("1-1"), row("1-2"), row("1-3"), row("1-4")});
        ASSERT_EQ(inserted.size(), 2);
        EXPECT_EQ(inserted[1][1].toInt(), 1);  // one insertion of the two new rows
        EXPECT_EQ(inserted[1][2].toInt(), 2);
        EXPECT_EQ(last.row(), 3);  // 1-4 moved down, still 1-4
        EXPECT_EQ(model.data(last).toString(), QStringLiteral("1-4"));
        EXPECT_EQ(changed.size(), 0);

        model.setRows({row("1-1"), row("1-2", [](auto& r) { r.state = State::queued; }), row("1-3"),
                       row("1-4")});
        ASSERT_EQ(changed.size(), 1);
        EXPECT_EQ(changed[0][0].toModelIndex().row(), 1);
        EXPECT_EQ(changed[0][1].toModelIndex().row(), 1);
        model.setRows(model.rows());  // the same again: no signal
        EXPECT_EQ(changed.size(), 1);

        // Neither happens at a station, but the table stays consistent: a new
        // order moves rows, a port that went takes its row along.
        model.setRows({row("1-4"), row("1-3"), row("1-1")});
        EXPECT_EQ(shown(model, 0).substr(0, 3), "1-4");
        EXPECT_EQ(model.rowCount(), 3);
        EXPECT_EQ(last.row(), 0);
        EXPECT_EQ(reset.size(), 0);
    }
    qInstallMessageHandler(previous);
    EXPECT_TRUE(complaints.isEmpty()) << complaints.join(QLatin1Char('\n')).toStdString();
}

TEST(StationTable, ResultColoursStayReadableOnAnyBase) {
    StationTableModel model;
    model.setRows({row("1-1",
                       [](auto& r) {
                           r.state = State::verified;
                           r.after = "1.3";
                       }),
                   row("1-2", [](auto& r) {
                       r.state = State::failed;
                       r.reason = "gone";
                   })});
    const int result = int(StationTableModel::Column::result);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    // The window's dark base and a light one keep the hues; a mid grey and
    // the green itself leave little room, but the text stays readable.
    const struct {
        QColor base;
        bool huesKept;
    } bases[] = {{QColor(0x26, 0x2b, 0x33), true},
                 {QColor(Qt::white), true},
                 {QColor(0x76, 0x76, 0x76), false},
                 {QColor(0x2e, 0xa0, 0x43), false}};
    for (const auto& [base, huesKept] : bases) {
        model.setBaseColor(base);
        const auto colour = [&](int at) {
            return model.data(model.index(at, result), Qt::ForegroundRole).value<QColor>();
        };
        const QColor verified = colour(0);
        const QColor failed = colour(1);
        EXPECT_GE(contrastRatio(verified, base), 4.5) << base.name().toStdString();
        EXPECT_GE(contrastRatio(failed, base), 4.5) << base.name().toStdString();
        if (huesKept) {
            EXPECT_GT(verified.green(), verified.red() + 40) << base.name().toStdString();
            EXPECT_GT(failed.red(), failed.green() + 40) << base.name().toStdString();
        }
    }
    EXPECT_EQ(changed.size(), 4);  // each new base repaints the results
}

}  // namespace
}  // namespace tarvo::test
