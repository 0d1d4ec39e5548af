// The version chooser: its rows, the selection, and OK and Cancel against the
// loopback firmware server.
#include <QDir>

#include "chooser_fixture.h"
#include "tcontroller/ui/dialogs/notification_center.h"

namespace tarvo::test {
namespace {

const QColor kGrey(50, 50, 50);
const Histoty k13{"1.3", "2020-01-15"};
const Histoty k11{"1.1", "2019-06-30"};

TEST_F(ChooserTest, RowsFillTheSlotsFromTheTopAndSkipOnlyTheExactBuiltInVersion) {
    const std::pair<std::vector<Histoty>, QStringList> cases[] = {
        {{}, {"Select from FW file"}},
        // Text from the server is shown as it is, never as markup.
        {{{"<b>1.3</b>", "<i>x</i>"}, {"1.2", "2019-10-22"}},
         {"Version V<b>1.3</b> [<i>x</i>]", "Select from FW file"}},
        {{{"1.2.0", "2019-11-01"}, k11},
         {"Version V1.2.0 [2019-11-01]", "Version V1.1 [2019-06-30]", "Select from FW file"}},
    };
    for (const auto& [history, labels] : cases) {
        open(history);
        ASSERT_EQ(chooser->viewArr.size(), static_cast<std::size_t>(labels.size()));
        EXPECT_EQ(chooser->tmpArr.size() + 1, chooser->viewArr.size());
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
    const auto textColour = [](VerView* row) {
        row->label->ensurePolished();
        return row->label->palette().color(QPalette::WindowText);
    };
    const auto expectSelected = [&](int selected) {
        for (int k = 0; k < 3; ++k) {
            VerView* row = chooser->viewArr[static_cast<std::size_t>(k)];
            EXPECT_EQ(row->backgroundColor(), k == selected ? Qt::white : Qt::transparent) << k;
            EXPECT_EQ(textColour(row), k == selected ? QColor(85, 85, 85) : Qt::white) << k;
        }
    };
    // Until the first selection the labels have the colour any label there has.
    QLabel probe(chooser);
    probe.ensurePolished();
    EXPECT_EQ(textColour(chooser->viewArr[0]), probe.palette().color(QPalette::WindowText));
    LogCapture log;
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

TEST_F(ChooserTest, OkWithoutSelectionAndCancelDownloadNothing) {
    open({k13});
    chooser->okBut->click();
    pump(100);
    ASSERT_TRUE(chooser && chooser->isVisible());
    press(0);
    chooser->cancelBut->click();
    ASSERT_TRUE(closed());
    pump(100);
    EXPECT_EQ(server.requestCount(), 0u);
    EXPECT_TRUE(unchanged());
    // The closed chooser no longer hears row presses.
    LogCapture log;
    NotificationCenter::defaultCenter().post(QStringLiteral("myViewClick"), 0);
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(ChooserTest, PickedVersionIsDownloadedFirmwareFirstIntoTheController) {
    server.publish({{k13.ver, k13.date, {}, {}}, {k11.ver, k11.date, {}, {}}});
    Guarded<std::vector<std::string>> targets;
    server.setRequestLog([&](const std::string&, const std::string& target, int) {
        targets.mutate([&](auto& all) { all.push_back(target); });
    });
    open({k13, k11});
    press(1);
    chooser->okBut->click();
    ASSERT_TRUE(closed());
    ASSERT_TRUE(waitUntil([this] { return !refreshes.empty(); }));
    EXPECT_EQ(vc->FWData.get(), server.firmwareFile("1.1"));
    EXPECT_EQ(bytesOf(vc->imageData.get()), server.imageFile("1.1"));
    EXPECT_EQ(refreshes.front(), std::make_pair(UpMode::online, std::optional(k11)));
    EXPECT_EQ(targets.get(), (std::vector<std::string>{sim::FirmwareServer::firmwarePath("1.1"),
                                                       sim::FirmwareServer::imagePath("1.1")}));
}

// A release is taken whole or not at all: a firmware file that arrived without
// its image never joins the release prepared before.
TEST_F(ChooserTest, FailedDownloadsCloseAndLeaveThePreparedReleaseAlone) {
    server.publish({{k13.ver, k13.date, {}, {}}});
    server.setRedirect(sim::FirmwareServer::imagePath("1.3"), "/missing.bin");
    vc->imageData.set(std::make_shared<const Bytes>(Bytes{1, 2, 3}));
    vc->selectedFW.set(k11);
    LogCapture log;
    open({k13});
    press(0);
    chooser->okBut->click();
    ASSERT_TRUE(closed());
    EXPECT_FALSE(vc->FWData.get().has_value());
    EXPECT_EQ(bytesOf(vc->imageData.get()), Bytes({1, 2, 3}));
    EXPECT_EQ(vc->updateMode.load(), UpMode::none);
    EXPECT_EQ(vc->selectedFW.get(), k11);
    // A version that makes no address fails the same way, without a request.
    const auto requests = server.requestCount();
    open({{"1 3\n", "2020-01-15"}});
    press(0);
    chooser->okBut->click();
    ASSERT_TRUE(closed());
    EXPECT_EQ(server.requestCount(), requests);
    EXPECT_EQ(log.count("download file failed."), 2);
    EXPECT_TRUE(refreshes.empty());
}

TEST_F(ChooserTest, Screenshot) {
    open({k13, k11});
    press(1);
    const QImage shot = chooser->grab().toImage();
    EXPECT_EQ(shot.pixelColor(14, 30), kGrey);              // a clear row
    EXPECT_EQ(shot.pixelColor(14, 90), QColor(Qt::white));  // the selected row
    EXPECT_EQ(shot.pixelColor(40, 90), kGrey);              // and its marker dot
    ASSERT_TRUE(QDir().mkpath(TARVO_TEST_SCREENSHOT_DIR));
    EXPECT_TRUE(shot.save(TARVO_TEST_SCREENSHOT_DIR "/chooser.png"));
}

}  // namespace
}  // namespace tarvo::test
