// The local file selection: the file panel's answer, the name rules and the
// reads of a pair of real files into the engine.
#include <QApplication>
#include <QFileDialog>
#include <QTimer>
#include <QWindow>

#include "chooser_fixture.h"
#include "support/temp_files.h"
#include "tcontroller/ui/dialogs/local_file_selection.h"
#include "tcontroller/update/pending_release.h"

namespace tarvo::test {
namespace {

using Lines = std::vector<std::string>;

class LocalFilesTest : public ChooserTest {
  protected:
    LocalFilesTest() : ChooserTest({.network = Reachability::Connection::none}) {}
    // OK on the file row, and the panel answers `paths` with `result`.
    void choose(const QStringList& paths, int result = 1) {
        if (!chooser) {
            open({});
            press(0);
        }
        log.clear();  // the lines of the selection only
        chooser->runOpenPanel = [this, paths, result](QStringList* out) {
            ++panelRuns;
            *out = paths;
            return result;
        };
        const int before = panelRuns;
        chooser->okBut->click();
        ASSERT_TRUE(waitUntil([&] { return panelRuns > before; }));
    }
    QString write(const std::string& name, const Bytes& bytes) {
        return QString::fromStdString(dir.write("my firmware/" + name, bytes).string());
    }
    TempDir dir;  // a space in the folder's name
    int panelRuns = 0;
    const Bytes image = patternBytes(54 * 3 + 7);
    const Bytes firmware{0xA9, 0x5C, 0x00};
};

// The pair in the panel's order, image first, becomes the offline release;
// its update sends the image file to the controller and keeps the firmware
// file for the controller's drive (the record a restart would finish).
TEST_F(LocalFilesTest, ImageThenFirmwareBecomeAnOfflineReleaseAndAreSentInTheirRoles) {
    sim.controller().updateFaults([](auto& f) { f.mountAfterFinalStep = false; });
    sim.controller().plug();
    vc.viewDidLoad();
    ASSERT_TRUE(waitUntil([this] { return state().identified; }));
    choose(
        {write("Tarvo Remote_IMG_V1.4.bin", image), write("Tarvo Remote_FW_V1.4.bin", firmware)});
    ASSERT_TRUE(closed());
    EXPECT_EQ(log.lines(), (Lines{"vvvvvvvvvv", "success", "^^^^^^^^^^"}));
    const UpdateSnapshot s = state();
    EXPECT_EQ(s.mode, UpMode::offline);
    EXPECT_EQ(s.selected, (Histoty{"1.4", ""}));
    ASSERT_TRUE(s.filesHeld);
    vc.engine().confirm();
    ASSERT_TRUE(waitUntil([this] { return state().finalStep; }));
    EXPECT_EQ(sim.controller().receivedImage(), image);
    const auto kept = PendingReleaseStore(sim.platform().pendingDir).load();
    ASSERT_TRUE(kept.ok() && kept.value->has_value()) << kept.error;
    EXPECT_EQ((*kept.value)->firmware, firmware);
    EXPECT_EQ((*kept.value)->version, "1.4");
}

// A cancelled panel or other than two files keep the chooser open and
// silent; a pair that breaks the name rules, or whose image cannot be read,
// closes it: the release is taken whole or not at all.
TEST_F(LocalFilesTest, AnswersThatAreNotAGoodPairTakeNothing) {
    const QString img = write("Tarvo Remote_IMG_V1.4.bin", image);
    const QString fw = write("Tarvo Remote_FW_V1.4.bin", firmware);
    const struct {
        QStringList paths;
        int result;
        Lines lines;  // none: the chooser stays open
    } cases[] = {
        {{img, fw}, 0, {}},
        {{fw}, 1, {}},
        {{fw, write("tarvo remote_fw_v1.3.bin", image)},
         1,
         {"vvvvvvvvvv", "invalidate files", "^^^^^^^^^^"}},
        {{fw, QString::fromStdString((dir.path() / "my firmware/Tarvo Remote_IMG_V1.3.bin"))},
         1,
         {"vvvvvvvvvv", "success", "load files failed", "^^^^^^^^^^"}},
    };
    for (const auto& c : cases) {
        choose(c.paths, c.result);
        if (c.lines.empty()) {
            pump(50);
            ASSERT_TRUE(chooser && chooser->isVisible());
            EXPECT_EQ(chooser->idx, 0);
        } else {
            ASSERT_TRUE(closed());
        }
        EXPECT_EQ(log.lines(), c.lines);
        EXPECT_EQ(state().mode, UpMode::none);
        EXPECT_FALSE(state().filesHeld);
    }
}

// The system panel asks for both files, stays above the chooser, and is
// readable: its labels keep the application's dark text on its light face,
// whatever the window's dark style sheet says about labels.
TEST_F(LocalFilesTest, ThePanelAsksForBothFilesInReadableColours) {
    vc.show();
    open({});
    QString title;
    QWindow* above = nullptr;
    QStringList unreadable;
    int labels = 0;
    QTimer look;
    look.setInterval(10);
    QObject::connect(&look, &QTimer::timeout, [&] {
        auto* panel = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (panel == nullptr || !panel->isVisible()) {
            return;
        }
        title = panel->windowTitle();
        above = panel->windowHandle()->transientParent();
        const QColor face = panel->palette().color(QPalette::Window);
        for (QLabel* label : panel->findChildren<QLabel*>()) {
            if (!label->isVisible() || label->text().isEmpty()) {
                continue;
            }
            ++labels;
            const QColor ink = label->palette().color(QPalette::WindowText);
            if (contrastRatio(ink, face) < 4.5) {
                unreadable << label->text() + " " + ink.name() + " on " + face.name();
            }
        }
        panel->reject();
    });
    look.start();
    QStringList paths;
    EXPECT_EQ(runSystemOpenPanel(chooser, &paths), 0);
    EXPECT_EQ(title, QStringLiteral("Choose the firmware file and the image file"));
    EXPECT_EQ(above, chooser->windowHandle());
    EXPECT_GT(labels, 0);
    EXPECT_TRUE(unreadable.isEmpty()) << unreadable.join(", ").toStdString();
}

}  // namespace
}  // namespace tarvo::test
