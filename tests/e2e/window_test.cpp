// What the window itself adds to the engine, pressed like a user presses it:
// the question before closing during an update, and the replug alert. (The
// failure screen: LiveWindow.AFailureIsToldAsPlainText in app/window_test.cpp.)
#include <QKeyEvent>
#include <QProcess>

#include "e2e/rig.h"
#include "support/window_parts.h"

namespace tarvo {
namespace {

using test::Rig;
using test::UpSta;

// The child process runs the window on the simulated platform with real
// waits (a close that does not ask would end the test's own process).
// Closed by the window manager during the erase wait, the window asks, with
// "Keep updating" for Enter; with "Close anyway" chosen the process ends at
// once. The Close button pressed while the tool waits for the controller's
// drive asks as well, and "Keep updating" keeps the process alive.
struct CloseCase {
    const char* mode;
    int exitCode;
    std::vector<std::string> said;  // lines the child must have printed
    std::string notSaid;            // and one it must not have
};

const std::string kAsked =
    "asked: An update is running. Closing now can leave the controller unusable. [Keep updating]";

class CloseChild : public ::testing::TestWithParam<CloseCase> {};

TEST_P(CloseChild, AsksFirstDuringAnUpdate) {
    const CloseCase& c = GetParam();
    QProcess child;
    child.setProcessChannelMode(QProcess::SeparateChannels);
    child.start(TARVO_CLOSE_CHILD, {c.mode});
    ASSERT_TRUE(child.waitForStarted(10000));
    ASSERT_TRUE(child.waitForFinished(120000)) << "the child did not end";
    const std::string out = QString::fromUtf8(child.readAllStandardOutput()).toStdString();
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), c.exitCode) << out;
    for (const std::string& line : c.said) {
        EXPECT_NE(out.find(line + "\n"), std::string::npos) << out;
    }
    EXPECT_EQ(out.find(c.notSaid), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(
    Close, CloseChild,
    ::testing::Values(CloseCase{"window-close-anyway",
                                0,
                                {"erasing data...", "closing now"},
                                "begin image update"},
                      CloseCase{"button-after-final-step",
                                4,
                                {"image update done 0 [done]!!", kAsked, "kept"},
                                "closing now"}),
    [](const auto& info) { return info.param.exitCode == 0 ? "WindowManager" : "Button"; });

// The final step is lost (no volume appears). The user answers the alert
// before replugging (with Escape): while the drive does not come the alert is
// shown again, or the update would wait forever. After the replug the answer
// must not cost the release: the volume gets the firmware of the image that
// was sent, never the built-in one, and the controller comes back on that version.
TEST(Alert, AnsweredTooEarlyItComesBackAndAReplugKeepsTheRelease) {
    Rig rig(test::offline());
    rig.publishDefault();
    auto& controller = rig.sim.controller();
    controller.updateFaults([](auto& faults) { faults.mountAfterFinalStep = false; });
    controller.plug();
    rig.startWindow();
    ASSERT_TRUE(rig.waitIdle());
    ImageButton* left = test::faceButton(*rig.window, "leftBut");
    ASSERT_TRUE(test::waitUntil([&] { return left->isEnabled(); }));
    left->click();  // the built-in release is prepared, then another is taken instead
    ASSERT_TRUE(test::waitUntil([&] { return rig.state().filesHeld && left->isEnabled(); }));
    auto& server = rig.sim.server();
    rig.engine->takeRelease(test::UpMode::offline, {"1.3", ""}, server.imageFile("1.3"),
                            server.firmwareFile("1.3"));
    rig.engine->publish();
    left->click();
    AlertViewController* alert = test::alertOf(*rig.window);
    ASSERT_TRUE(test::waitUntil([&] { return alert->shown; }));  // the watchdog is not held
    ASSERT_TRUE(test::waitUntil([&] { return !rig.state().attached; }));  // left for its bootloader
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(alert, &escape);  // with the controller still unplugged
    EXPECT_FALSE(rig.state().replugAlert);
    ASSERT_TRUE(test::waitUntil([&] { return alert->shown; }));

    controller.unplug();
    controller.updateFaults([](auto& faults) { faults.mountAfterFinalStep = true; });
    controller.plug();
    ASSERT_TRUE(test::waitUntil([&] { return rig.engine->controllerIdentified(); }));
    EXPECT_EQ(rig.state().sta, UpSta::updating);  // the update goes on
    QApplication::sendEvent(alert, &escape);
    ASSERT_TRUE(test::waitUntil([&] { return !alert->shown; }));
    // Without a window manager, keys still reach the hidden alert: they must
    // not act for a dialog that is not shown.
    for (int i = 0; i < 6; ++i) {
        QApplication::sendEvent(alert, &escape);
    }
    ASSERT_TRUE(rig.waitLog("update verified: 1.3"));
    EXPECT_EQ(rig.log.count("alerted"), 2);
    EXPECT_EQ(controller.frameCount(sim::Command::finalStep), 2u);
    EXPECT_EQ(controller.receivedImage(), server.imageFile("1.3"));
    EXPECT_EQ(controller.receivedFirmware(), server.firmwareFile("1.3"));
}

}  // namespace
}  // namespace tarvo
