// The window and the version chooser for assistive technology and the
// keyboard: every control has a name in the accessible tree, the About box
// tells the versions, the image buttons take the keys, and the text follows
// the system font size. (The chooser by keys alone: chooser_test.cpp.)
#include <QAccessible>
#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <cmath>

#include "chooser_fixture.h"

namespace tarvo::test {
namespace {

// Walks the accessible tree from `node`, adding the interactive elements to
// `found` as "role:name"; fails for each one without a name or (for a button)
// without a description.
void walk(QAccessibleInterface* node, QStringList& found) {
    static const QList<QAccessible::Role> controls = {
        QAccessible::PushButton, QAccessible::RadioButton, QAccessible::CheckBox,
        QAccessible::List,       QAccessible::ListItem,    QAccessible::ProgressBar};
    if (node == nullptr) {
        return;
    }
    if (controls.contains(node->role()) || node->state().focusable) {
        const QString name = node->text(QAccessible::Name);
        EXPECT_FALSE(name.trimmed().isEmpty())
            << "no accessible name: role 0x" << std::hex << node->role() << " "
            << (node->object() ? node->object()->objectName().toStdString() : "");
        EXPECT_TRUE(node->role() != QAccessible::PushButton ||
                    !node->text(QAccessible::Description).isEmpty())
            << "no description: " << name.toStdString();
        found << QString::number(node->role(), 16) + ":" + name;
    }
    for (int i = 0; i < node->childCount(); ++i) {
        walk(node->child(i), found);
    }
}
QStringList walk(QWidget* widget) {
    QStringList found;
    walk(QAccessible::queryAccessibleInterface(widget), found);
    return found;
}

QString named(QAccessible::Role role, const QString& name) {
    return QString::number(role, 16) + ":" + name;
}

TEST_F(ChooserTest, EveryControlOfTheWindowAndTheChooserHasAnAccessibleName) {
    vc.viewDidLoad();
    vc.show();
    const QStringList window = walk(&vc);
    for (const char* name : {"About", "Close", "OK", "UPDATE TO NEWEST", "UPDATE TO PREVIOUS"}) {
        EXPECT_TRUE(window.contains(named(QAccessible::PushButton, name)))
            << name << " in " << window.join(", ").toStdString();
    }
    EXPECT_TRUE(window.contains(named(QAccessible::ProgressBar, "Update progress")));
    // Tab goes through the controls in their order on screen.
    QStringList tabOrder;
    QPushButton* aboutBut = button(vc, "aboutBut");
    QWidget* at = aboutBut;
    do {
        if (at->focusPolicy() & Qt::TabFocus) {
            tabOrder << at->objectName();
        }
        at = at->nextInFocusChain();
    } while (at != aboutBut && tabOrder.size() < 10);
    EXPECT_EQ(tabOrder, QStringList({"aboutBut", "closeBut", "cancelBut", "FailedOKBut",
                                     "copyDetailsBut", "stationBut", "leftBut", "rightBut"}));

    open({k13, k11});
    const QStringList rows = walk(chooser);
    EXPECT_TRUE(rows.contains(named(QAccessible::List, "Firmware versions")));
    for (const char* name :
         {"Version V1.3 [2020-01-15]", "Version V1.1 [2019-06-30]", "Select from FW file"}) {
        EXPECT_TRUE(rows.contains(named(QAccessible::RadioButton, name))) << name;
    }
    EXPECT_TRUE(rows.contains(named(QAccessible::PushButton, "OK")) &&
                rows.contains(named(QAccessible::PushButton, "Cancel")));

    // The About box tells the tool's version, the built-in release and the log.
    aboutBut->click();
    QMessageBox* about = vc.findChild<QMessageBox*>();
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(about->text().contains(QStringLiteral(TARVO_VERSION)));
    EXPECT_TRUE(about->informativeText().contains(QStringLiteral("1.2 (2019-10-22)")));
    EXPECT_TRUE(about->informativeText().contains(QStringLiteral("tarvo-remote-update.log")));
}

TEST_F(ChooserTest, ImageButtonsTakeEnterAndSpaceAndShowFocus) {
    vc.show();  // not started: no state change redraws the button
    ImageButton* left = faceButton(vc, "leftBut");
    left->setEnabled(true);
    int presses = 0;
    QObject::connect(left, &QAbstractButton::clicked, [&] { ++presses; });
    QObject::disconnect(left, nullptr, &vc, nullptr);  // the press reaches only the count
    for (const Qt::Key k : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
        QTest::keyClick(left, k);
        ASSERT_TRUE(waitUntil([&] { return presses > 0; })) << k;
        presses = 0;
    }
    // Focused from the keyboard the button is drawn with a ring; focused by a
    // click it is not.
    const QImage plain = left->grab().toImage();
    left->setFocus(Qt::MouseFocusReason);
    QApplication::processEvents();
    if (!left->hasFocus()) {
        GTEST_SKIP() << "the offscreen window did not take the focus";
    }
    EXPECT_EQ(left->grab().toImage(), plain);

    // Every button's ring from the keyboard stands out from its own face by
    // at least 3:1: the best contrast along the ring's band at mid-height,
    // between the focused picture and the one without focus.
    button(vc, "FailedOKBut")->show();
    button(vc, "cancelBut")->show();
    button(vc, "copyDetailsBut")->show();
    button(vc, "stationBut")->show();
    for (const char* name : {"leftBut", "rightBut", "FailedOKBut", "cancelBut", "copyDetailsBut",
                             "stationBut", "aboutBut", "closeBut"}) {
        auto* focused = vc.findChild<QAbstractButton*>(QString::fromLatin1(name));
        ASSERT_NE(focused, nullptr) << name;
        focused->setEnabled(true);
        button(vc, name == std::string("aboutBut") ? "closeBut" : "aboutBut")->setFocus();
        QApplication::processEvents();
        const QImage face = focused->grab().toImage();
        focused->setFocus(Qt::TabFocusReason);
        QApplication::processEvents();
        EXPECT_TRUE(focused->hasFocus()) << name;
        const QImage ring = focused->grab().toImage();
        double best = 1;
        for (int x = 0; x < 8; ++x) {
            const int y = face.height() / 2;
            best = std::max(best, contrastRatio(ring.pixelColor(x, y), face.pixelColor(x, y)));
        }
        EXPECT_GE(best, 3.0) << name;
    }
}

TEST_F(ChooserTest, TextFollowsTheSystemFontAndTheVersionLabelIsReadable) {
    const QFont saved = QApplication::font();
    QFont small = saved;
    small.setPointSizeF(9);
    QApplication::setFont(small);
    ViewController normal(sim.platform());
    QFont larger = saved;
    larger.setPointSizeF(20);
    QApplication::setFont(larger);
    ViewController large(sim.platform());
    QApplication::setFont(saved);
    for (ViewController* w : {&normal, &large}) {
        w->engine().publish();  // the window shows the engine's state
        w->show();
    }
    for (const char* name : {"msgLabel", "prodLabel"}) {
        EXPECT_NEAR(
            label(large, name)->font().pointSizeF() / label(normal, name)->font().pointSizeF(),
            20.0 / 9, 0.01)
            << name;
    }
    EXPECT_GT(large.sizeHint().width(), normal.sizeHint().width());
    EXPECT_GT(large.sizeHint().height(), normal.sizeHint().height());
    EXPECT_GT(faceButton(large, "leftBut")->sizeHint().height(),
              faceButton(normal, "leftBut")->sizeHint().height());
    // The replug alert's longest line fits on one line.
    AlertViewController* alert = alertOf(normal);
    alert->present();
    EXPECT_GE(alert->label->width(),
              alert->label->fontMetrics().horizontalAdvance(
                  "please keep the program running(Warning: Don't close the program)"));
    alert->dismiss();

    // The blue version text against the card behind it: at least 4.5:1.
    const QColor text = label(normal, "FWLabel")->palette().color(QPalette::WindowText);
    QWidget* card = normal.findChild<QWidget*>(QStringLiteral("card"));
    ASSERT_NE(card, nullptr);
    card->ensurePolished();
    // The card's fill, read from its picture (the label is empty: no controller).
    const QColor fill = card->grab().toImage().pixelColor(card->width() / 2, 4);
    EXPECT_GE(contrastRatio(text, fill), 4.5)
        << text.name().toStdString() << " on " << fill.name().toStdString();

    // On a screen too small for the text (here a very large font) the window
    // keeps within the screen and its content scrolls, all of it still there.
    QFont huge = saved;
    huge.setPointSizeF(48);
    QApplication::setFont(huge);
    ViewController big(sim.platform());
    QApplication::setFont(saved);
    big.viewDidLoad();
    const QRect room = big.screen()->availableGeometry();
    ASSERT_GT(big.findChild<QWidget*>(QStringLiteral("content"))->sizeHint().height(),
              room.height());
    EXPECT_LE(big.height(), room.height());
    EXPECT_LE(big.width(), room.width());
    auto* scroller = big.findChild<QScrollArea*>();
    ASSERT_NE(scroller, nullptr);
    big.show();
    QApplication::processEvents();
    EXPECT_GT(scroller->verticalScrollBar()->maximum(), 0);
    ImageButton* bigLeft = faceButton(big, "leftBut");
    scroller->ensureWidgetVisible(bigLeft);
    QApplication::processEvents();
    EXPECT_TRUE(scroller->viewport()->rect().contains(
        bigLeft->mapTo(scroller->viewport(), bigLeft->rect().bottomRight())));
}

}  // namespace
}  // namespace tarvo::test
