// The local file selection: the file panel, its answer, the explanation of
// refused files in the chooser, and the reads of a pair of real files into
// the engine.
#include <QAccessible>
#include <QApplication>
#include <QFileDialog>
#include <QTimer>
#include <QTranslator>
#include <QWindow>

#include "chooser_fixture.h"
#include "support/temp_files.h"
#include "tcontroller/ui/dialogs/local_file_selection.h"
#include "tcontroller/update/pending_release.h"

namespace tarvo::test {
namespace {

using Lines = std::vector<std::string>;

// Every text of the chooser twice over, as a long translation would be.
class LongTranslator : public QTranslator {
  public:
    QString translate(const char* context, const char* source, const char*, int) const override {
        if (QLatin1String(context) != QLatin1String("tarvo::SelViewController")) {
            return {};
        }
        const QString text = QString::fromUtf8(source);
        return text + QLatin1Char(' ') + text;
    }
    bool isEmpty() const override { return false; }
};

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
        pump(50);
    }
    // The chooser is still open on the file row, taking nothing, and shows
    // an explanation that holds `says`: whole (every word within its width,
    // all its lines above the buttons) and announced.
    void expectExplained(const QString& says) {
        ASSERT_TRUE(chooser && chooser->isVisible());
        EXPECT_EQ(chooser->idx, 0);
        EXPECT_EQ(state().mode, UpMode::none);
        EXPECT_FALSE(state().filesHeld);
        QLabel* problem = chooser->problemLabel();
        ASSERT_TRUE(problem->isVisible());
        const QString text = problem->text();
        EXPECT_TRUE(text.contains(says)) << text.toStdString();
        // Announced to assistive technology, by its text.
        const QAccessibleInterface* told = QAccessible::queryAccessibleInterface(problem);
        EXPECT_EQ(told->role(), QAccessible::AlertMessage);
        EXPECT_EQ(told->text(QAccessible::Name), text);
        EXPECT_FALSE(told->text(QAccessible::Description).isEmpty());
        for (const QString& word : text.split(QLatin1Char(' '))) {
            EXPECT_LE(problem->fontMetrics().horizontalAdvance(word), problem->width())
                << word.toStdString();
        }
        EXPECT_GE(problem->height(), problem->heightForWidth(problem->width()));
        EXPECT_GE(problem->y(), chooser->listView()->geometry().bottom());
        for (const QPushButton* b : {chooser->okBut.data(), chooser->cancelBut.data()}) {
            EXPECT_GT(b->y(), problem->geometry().bottom());
            EXPECT_LE(b->geometry().bottom(), chooser->height());
        }
    }
    QString write(const std::string& name, const Bytes& bytes) {
        return QString::fromStdString(dir.write("my firmware/" + name, bytes).string());
    }
    TempDir dir;  // a space in the folder's name
    int panelRuns = 0;
    const Bytes image = patternBytes(54 * 3 + 7);
    const Bytes firmware{0xA9, 0x5C, 0x00};
};

// Files that are not a pair are explained in the chooser, which stays open
// on the file row; the release files as the server names them, image first,
// then become the offline release of their version: its update sends the
// image file to the controller and keeps the firmware file for the
// controller's drive (the record a restart would finish).
TEST_F(LocalFilesTest, RefusedFilesAreExplainedThenTheServerNamedPairIsUpdated) {
    sim.controller().updateFaults([](auto& f) { f.mountAfterFinalStep = false; });
    sim.controller().plug();
    vc.viewDidLoad();
    ASSERT_TRUE(waitUntil([this] { return state().identified; }));
    const QString img = write("Img_V1.4.bin", image);
    const QString fw = write("FW_V1.4.bin", firmware);

    choose({fw, write("notes.bin", {})});
    expectExplained(QStringLiteral("“notes.bin” is not named like a firmware file"));
    EXPECT_EQ(log.lines(), (Lines{"vvvvvvvvvv", "invalidate files", "^^^^^^^^^^"}));
    choose({fw});
    expectExplained(QStringLiteral("Pick both files together"));
    EXPECT_TRUE(log.lines().empty());

    choose({img, fw});
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

// Each refusal names its reason and the files, in full words even when the
// translation is long and a name is longer than a line; a cancelled panel
// says nothing new; a pair whose image cannot be read closes the chooser
// with nothing taken: the release is taken whole or not at all.
TEST_F(LocalFilesTest, EachRefusalIsExplainedAndNothingIsTaken) {
    LongTranslator longer;
    QCoreApplication::installTranslator(&longer);
    const QString img = write("Tarvo Remote_IMG_V1.4.bin", image);
    const QString fw = write("Tarvo Remote_FW_V1.4.bin", firmware);
    const QString longName = QString(90, QLatin1Char('x')) + QStringLiteral("_FW_V1.4.bin");
    const struct {
        QStringList paths;
        int result;
        Lines lines;
        QString says;  // empty: no explanation
    } cases[] = {
        {{img, fw}, 0, {}, {}},
        {{img, fw, fw}, 1, {}, QStringLiteral("Pick only two files")},
        {{fw, write("tarvo remote_fw_v1.3.bin", image)},
         1,
         {"vvvvvvvvvv", "invalidate files", "^^^^^^^^^^"},
         QStringLiteral("“Tarvo Remote_FW_V1.4.bin” and “tarvo remote_fw_v1.3.bin” are both "
                        "firmware files")},
        {{write("FW_V1.4.bin", firmware), write("Img_V1.3.bin", image)},
         1,
         {"vvvvvvvvvv", "invalidate files", "^^^^^^^^^^"},
         QStringLiteral("belong to different versions")},
        {{img, write(longName.toStdString(), firmware)},
         1,
         {"vvvvvvvvvv", "invalidate files", "^^^^^^^^^^"},
         QStringLiteral("…")},
        // Cancelled after a refusal: the explanation stays as it was.
        {{img, fw}, 0, {}, QStringLiteral("…")},
    };
    for (const auto& c : cases) {
        choose(c.paths, c.result);
        EXPECT_EQ(log.lines(), c.lines);
        if (c.says.isEmpty()) {
            ASSERT_TRUE(chooser && chooser->isVisible());
            EXPECT_TRUE(chooser->problemLabel()->isHidden());
            EXPECT_EQ(chooser->size(),
                      QSize(SelViewController::kContentWidth, SelViewController::kContentHeight));
        } else {
            expectExplained(c.says);
        }
    }
    // The last explanation holds the pattern to follow, translated.
    EXPECT_EQ(chooser->problemLabel()->text().count(QStringLiteral("Tarvo Remote_Img_V1.3.bin")),
              2);

    choose({fw, QString::fromStdString((dir.path() / "my firmware/Tarvo Remote_IMG_V1.3.bin"))});
    ASSERT_TRUE(closed());
    EXPECT_EQ(log.lines(), (Lines{"vvvvvvvvvv", "success", "load files failed", "^^^^^^^^^^"}));
    EXPECT_EQ(state().mode, UpMode::none);
    EXPECT_FALSE(state().filesHeld);
    QCoreApplication::removeTranslator(&longer);
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
