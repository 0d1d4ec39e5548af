// The version chooser: its rows, the selection, and OK and Cancel into the
// engine, against the loopback firmware server.
#include <QAccessible>
#include <memory>

#include "chooser_fixture.h"
#include "tcontroller/ui/dialogs/notification_center.h"

namespace tarvo::test {
namespace {

TEST_F(ChooserTest, RowsFillTheSlotsFromTheTopAndSkipOnlyTheExactBuiltInVersion) {
    const std::pair<std::vector<Histoty>, QStringList> cases[] = {
        // Text from the server is shown as it is, never as markup.
        {{{"<b>1.3</b>", "<i>x</i>"}, {"1.2", "2019-10-22"}},
         {"Version V<b>1.3</b> [<i>x</i>]", "Select from FW file"}},
        {{{"1.2.0", "2019-11-01"}, k11, k13},
         {"Version V1.2.0 [2019-11-01]", "Version V1.1 [2019-06-30]", "Select from FW file"}},
    };
    for (const auto& [history, labels] : cases) {
        open(history);
        ASSERT_EQ(chooser->viewArr.size(), static_cast<std::size_t>(labels.size()));
        for (int k = 0; k < labels.size(); ++k) {
            VerView* row = chooser->viewArr[static_cast<std::size_t>(k)];
            EXPECT_EQ(QRect(row->mapTo(chooser, QPoint()), row->size()),
                      QRect(10, 60 * k, 460, 60));
            EXPECT_EQ(row->index(), k);
            EXPECT_EQ(row->label->text(), labels[k]);
            EXPECT_EQ(row->label->textFormat(), Qt::PlainText);
        }
        delete chooser.data();
    }
}

TEST_F(ChooserTest, PressesSelectARowAndRecolourEveryRow) {
    open({k13, k11});
    const QColor grey(50, 50, 50);
    const auto expectSelected = [&](int selected) {
        const QImage shot = chooser->grab().toImage();
        for (int k = 0; k < 3; ++k) {
            const bool on = k == selected;
            const QPoint inside(14, 30 + 60 * k);
            EXPECT_EQ(shot.pixelColor(inside), on ? QColor(Qt::white) : grey) << k;
            EXPECT_EQ(shot.pixelColor(inside + QPoint(26, 0)), grey) << k;  // the marker dot
            VerView* row = chooser->viewArr[static_cast<std::size_t>(k)];
            EXPECT_EQ(row->label->palette().color(QPalette::WindowText),
                      on ? QColor(85, 85, 85) : QColor(Qt::white))
                << k;
        }
    };
    log.clear();
    press(1);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"click view @ index: 1", "left mouse 1"}));
    expectSelected(1);
    press(2);
    expectSelected(2);
    // An object that is not an integer clears the selection.
    for (const QVariant& object : {QVariant(QStringLiteral("1")), QVariant(), QVariant(1.0)}) {
        press(0);
        NotificationCenter::defaultCenter().post(QStringLiteral("myViewClick"), object);
        EXPECT_EQ(chooser->idx, -1);
        expectSelected(-1);
    }
}

TEST_F(ChooserTest, OkWithoutSelectionStaysOpenAndCancelOrEscapeDownloadNothing) {
    open({k13});
    chooser->okBut->click();
    pump(100);
    ASSERT_TRUE(chooser && chooser->isVisible());
    press(0);
    chooser->cancelBut->click();
    ASSERT_TRUE(closed());
    open({k13});
    press(0);
    QTest::keyClick(chooser->listView(), Qt::Key_Escape);
    ASSERT_TRUE(closed());
    pump(100);
    EXPECT_EQ(sim.server().requestCount(), 0u);
    EXPECT_EQ(state().mode, UpMode::none);
    // A closed chooser no longer hears row presses.
    log.clear();
    NotificationCenter::defaultCenter().post(QStringLiteral("myViewClick"), 0);
    EXPECT_TRUE(log.lines().empty());
}

// A version picked with keys alone is downloaded into the engine, the
// firmware file first, and its update sends that release's own image; a
// release is taken whole or not at all, so a failed download leaves the one
// prepared before.
TEST_F(ChooserTest, APickedVersionIsDownloadedWholeOrNotAtAll) {
    sim.server().publish({{k13.ver, k13.date, {}, {}}, {k11.ver, k11.date, {}, {}}});
    sim.server().setRedirect(sim::FirmwareServer::imagePath("1.3"), "/missing.bin");
    sim.controller().updateFaults([](auto& f) { f.mountAfterFinalStep = false; });
    sim.controller().plug();
    vc.viewDidLoad();
    ASSERT_TRUE(waitUntil([this] { return state().identified && !vc.engine().awaitingHistory(); }));
    // Shared with the server's threads, which may still hold the log when
    // this test ends.
    auto targets = std::make_shared<Guarded<std::vector<std::string>>>();
    sim.server().setRequestLog([targets](const std::string&, const std::string& target, int) {
        targets->mutate([&](auto& all) { all.push_back(target); });
    });
    open({k13, k11});
    EXPECT_EQ(chooser->listView()->focusPolicy(), Qt::StrongFocus);
    const auto key = [this](Qt::Key k) {
        QWidget* focused = chooser->focusWidget();
        QTest::keyClick(focused != nullptr ? focused : chooser->listView(), k);
    };
    const auto checked = [this](std::size_t row) {
        return QAccessible::queryAccessibleInterface(chooser->viewArr[row])->state().checked;
    };
    for (int k = 0; k < 4; ++k) {
        key(Qt::Key_Down);  // the fourth stays on the last row
    }
    EXPECT_EQ(chooser->idx.load(), 2);
    key(Qt::Key_Up);
    EXPECT_EQ(chooser->idx.load(), 1);
    EXPECT_TRUE(checked(1) && !checked(0));
    key(Qt::Key_Return);
    ASSERT_TRUE(closed());
    EXPECT_EQ(targets->get(), (std::vector<std::string>{sim::FirmwareServer::firmwarePath("1.1"),
                                                        sim::FirmwareServer::imagePath("1.1")}));
    const auto expectPrepared = [this] {
        const UpdateSnapshot s = state();
        EXPECT_EQ(s.mode, UpMode::online);
        EXPECT_EQ(s.selected, k11);
        EXPECT_TRUE(s.filesHeld);
    };
    expectPrepared();
    const auto pick = [this](const std::vector<Histoty>& history) {
        open(history);
        press(0);
        chooser->okBut->click();
        return closed();
    };
    ASSERT_TRUE(pick({k13}));  // its image is missing
    expectPrepared();
    // A version that makes no address fails the same way, without a request.
    const auto requests = sim.server().requestCount();
    ASSERT_TRUE(pick({{"1 3\n", "2020-01-15"}}));
    EXPECT_EQ(sim.server().requestCount(), requests);
    expectPrepared();
    EXPECT_EQ(log.count("download file failed."), 2);
    vc.engine().confirm();
    ASSERT_TRUE(waitUntil([this] { return state().finalStep; }));
    EXPECT_EQ(sim.controller().receivedImage(), sim.server().imageFile("1.1"));
}

}  // namespace
}  // namespace tarvo::test
