// The window and the version chooser for assistive technology and the
// keyboard: every control has a name in the accessible tree, a version is
// picked with keys alone, the text follows the system font size, and the
// About box tells the versions.
#include <QAccessible>
#include <QApplication>
#include <QMessageBox>
#include <QProgressBar>
#include <cmath>
#include <functional>

#include "chooser_fixture.h"
#include "tcontroller/ui/image_button.h"

namespace tarvo::test {
namespace {

const Histoty k13{"1.3", "2020-01-15"};
const Histoty k11{"1.1", "2019-06-30"};

bool interactive(const QAccessibleInterface* node) {
    switch (node->role()) {
        case QAccessible::PushButton:
        case QAccessible::RadioButton:
        case QAccessible::CheckBox:
        case QAccessible::List:
        case QAccessible::ListItem:
        case QAccessible::ProgressBar:
            return true;
        default:
            return node->state().focusable;
    }
}

// Walks the accessible tree under `widget`; returns the named interactive
// elements as "role:name", and fails for each one without a name or (for a
// button) without a description.
QStringList walk(QWidget* widget) {
    QStringList found;
    std::function<void(QAccessibleInterface*)> visit = [&](QAccessibleInterface* node) {
        if (node == nullptr) {
            return;
        }
        if (interactive(node)) {
            const QString name = node->text(QAccessible::Name);
            const QString role = QString::number(node->role(), 16);
            EXPECT_FALSE(name.trimmed().isEmpty())
                << "no accessible name: role 0x" << role.toStdString() << " "
                << (node->object() ? node->object()->objectName().toStdString() : "");
            if (node->role() == QAccessible::PushButton) {
                EXPECT_FALSE(node->text(QAccessible::Description).isEmpty())
                    << "no description: " << name.toStdString();
            }
            found << role + ":" + name;
        }
        for (int i = 0; i < node->childCount(); ++i) {
            visit(node->child(i));
        }
    };
    visit(QAccessible::queryAccessibleInterface(widget));
    return found;
}

QString button(const char* name) {
    return QString::number(QAccessible::PushButton, 16) + ":" + name;
}
QString radio(const QString& name) {
    return QString::number(QAccessible::RadioButton, 16) + ":" + name;
}

TEST_F(ChooserTest, EveryControlOfTheWindowAndTheChooserHasAnAccessibleName) {
    vc->viewDidLoad();
    vc->show();
    const QStringList window = walk(vc.get());
    for (const char* name : {"About", "Close", "OK", "UPDATE TO NEWEST", "UPDATE TO PREVIOUS"}) {
        EXPECT_TRUE(window.contains(button(name)))
            << name << " in " << window.join(", ").toStdString();
    }
    EXPECT_TRUE(
        window.contains(QString::number(QAccessible::ProgressBar, 16) + ":Update progress"));
    // Tab goes through the controls in their order on screen.
    QStringList tabOrder;
    QWidget* at = vc->aboutBut;
    do {
        if (at->focusPolicy() & Qt::TabFocus) {
            tabOrder << at->objectName();
        }
        at = at->nextInFocusChain();
    } while (at != vc->aboutBut && tabOrder.size() < 10);
    EXPECT_EQ(tabOrder, QStringList({"aboutBut", "closeBut", "cancelBut", "FailedOKBut",
                                     "copyDetailsBut", "leftBut", "rightBut"}));

    open({k13, k11});
    const QStringList rows = walk(chooser);
    EXPECT_TRUE(rows.contains(QString::number(QAccessible::List, 16) + ":Firmware versions"));
    for (const QString& name :
         {QStringLiteral("Version V1.3 [2020-01-15]"), QStringLiteral("Version V1.1 [2019-06-30]"),
          QStringLiteral("Select from FW file")}) {
        EXPECT_TRUE(rows.contains(radio(name))) << name.toStdString();
    }
    EXPECT_TRUE(rows.contains(button("OK")) && rows.contains(button("Cancel")));
}

TEST_F(ChooserTest, KeysAlonePickAVersionAndEscapeCancels) {
    server.publish({{k13.ver, k13.date, {}, {}}, {k11.ver, k11.date, {}, {}}});
    open({k13, k11});
    QWidget* list = chooser->listView();
    EXPECT_EQ(list->focusPolicy(), Qt::StrongFocus);
    const auto key = [&](Qt::Key k) {
        QWidget* target = chooser->focusWidget() != nullptr ? chooser->focusWidget() : list;
        QTest::keyClick(target, k);
    };
    const auto checked = [&](std::size_t row) {
        QAccessibleInterface* node = QAccessible::queryAccessibleInterface(chooser->viewArr[row]);
        return node != nullptr && node->state().checked;
    };
    key(Qt::Key_Down);
    key(Qt::Key_Down);
    key(Qt::Key_Down);
    key(Qt::Key_Down);  // stays on the last row
    EXPECT_EQ(chooser->idx.load(), 2);
    key(Qt::Key_Up);
    EXPECT_EQ(chooser->idx.load(), 1);
    EXPECT_TRUE(checked(1));
    EXPECT_FALSE(checked(0));
    key(Qt::Key_Return);
    ASSERT_TRUE(closed());
    ASSERT_TRUE(waitUntil([this] { return !refreshes.empty(); }));
    EXPECT_EQ(refreshes.front(), std::make_pair(UpMode::online, std::optional(k11)));
    EXPECT_EQ(vc->FWData.get(), server.firmwareFile("1.1"));

    // Escape closes a new chooser without a download.
    refreshes.clear();
    const auto requests = server.requestCount();
    open({k13, k11});
    key(Qt::Key_Down);
    key(Qt::Key_Escape);
    ASSERT_TRUE(closed());
    pump(100);
    EXPECT_EQ(server.requestCount(), requests);
    EXPECT_TRUE(refreshes.empty());
}

TEST_F(ChooserTest, ImageButtonsTakeEnterAndSpaceAndShowFocus) {
    vc->viewDidLoad();
    vc->show();
    ImageButton* left = vc->leftBut;
    left->setEnabled(true);
    int presses = 0;
    QObject::connect(left, &QAbstractButton::clicked, [&] { ++presses; });
    QObject::disconnect(left, nullptr, vc.get(), nullptr);
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
    vc->aboutBut->setFocus(Qt::TabFocusReason);
    left->setFocus(Qt::TabFocusReason);
    EXPECT_NE(left->grab().toImage(), plain);
}

TEST_F(ChooserTest, TextFollowsTheSystemFontAndTheVersionLabelIsReadable) {
    const QFont saved = QApplication::font();
    QFont small = saved;
    small.setPointSizeF(9);
    QApplication::setFont(small);
    ViewController normal(platform);
    normal.viewDidLoad();
    QFont large = saved;
    large.setPointSizeF(20);
    QApplication::setFont(large);
    ViewController big(platform);
    big.viewDidLoad();
    for (ViewController* w : {&normal, &big}) {
        w->show();
    }
    QApplication::setFont(saved);
    EXPECT_NEAR(normal.msgLabel->font().pointSizeF(), 11.25, 0.01);
    EXPECT_NEAR(big.msgLabel->font().pointSizeF(), 25.0, 0.01);
    EXPECT_NEAR(big.prodLabel->font().pointSizeF(), 20 * 19.5 / 9, 0.01);
    EXPECT_GT(big.sizeHint().width(), normal.sizeHint().width());
    EXPECT_GT(big.sizeHint().height(), normal.sizeHint().height());
    EXPECT_GT(big.leftBut->sizeHint().height(), normal.leftBut->sizeHint().height());

    // The blue version text against the card behind it: at least 4.5:1.
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const QColor text = normal.FWLabel->palette().color(QPalette::WindowText);
    QWidget* card = normal.findChild<QWidget*>(QStringLiteral("card"));
    ASSERT_NE(card, nullptr);
    card->ensurePolished();
    // The card's fill, read from its picture.
    normal.FWLabel->setText(QString());
    const QColor fill = card->grab().toImage().pixelColor(card->width() / 2, 4);
    const double lighter = std::max(luminance(text), luminance(fill));
    const double darker = std::min(luminance(text), luminance(fill));
    EXPECT_GE((lighter + 0.05) / (darker + 0.05), 4.5)
        << text.name().toStdString() << " on " << fill.name().toStdString();
}

TEST_F(ChooserTest, AboutBoxTellsTheVersionAndTheBuiltInRelease) {
    vc->viewDidLoad();
    vc->show();
    vc->aboutBut->click();
    QMessageBox* about = vc->findChild<QMessageBox*>();
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(about->text().contains(QStringLiteral(TARVO_VERSION)));
    EXPECT_TRUE(about->informativeText().contains(QStringLiteral("1.2 (2019-10-22)")));
    EXPECT_TRUE(about->informativeText().contains(QStringLiteral("tarvo-remote-update.log")));
    about->close();
}

}  // namespace
}  // namespace tarvo::test
