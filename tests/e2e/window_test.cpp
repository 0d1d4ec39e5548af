// What the window itself adds to the engine, pressed like a user presses it:
// the question before closing during an update, the replug alert, and the
// failure screen's OK and Copy details.
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QProcess>

#include "e2e/rig.h"
#include "support/window_parts.h"

namespace tarvo {
namespace {

using test::Rig;
using test::UpSta;

// The window on a platform without network, a controller of firmware 1.1
// identified, the built-in release prepared.
void prepareWindow(Rig& rig) {
    rig.sim.controller().plug();
    rig.startWindow();
    ASSERT_TRUE(rig.waitIdle());
    ImageButton* left = test::faceButton(*rig.window, "leftBut");
    ASSERT_TRUE(test::waitUntil([&] { return left->isEnabled(); }));
    left->click();
    ASSERT_TRUE(test::waitUntil([&] {
        return rig.state().mode == test::UpMode::bIn && rig.state().filesHeld && left->isEnabled();
    }));
}

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

// The final step is lost (no volume appears); the user replugs as the alert
// says and answers it, here with Escape. The replug must not cost the release:
// the volume gets the firmware of the image that was sent, never the built-in
// one, and the controller comes back on that version.
TEST(Alert, AReplugAndTheAnswerKeepTheRelease) {
    Rig rig(test::offline());
    rig.publishDefault();
    auto& controller = rig.sim.controller();
    controller.updateFaults([](auto& faults) { faults.mountAfterFinalStep = false; });
    ASSERT_NO_FATAL_FAILURE(prepareWindow(rig));
    auto& server = rig.sim.server();
    rig.engine->takeRelease(test::UpMode::offline, {"1.3", ""}, server.imageFile("1.3"),
                            server.firmwareFile("1.3"));
    rig.engine->publish();
    test::faceButton(*rig.window, "leftBut")->click();
    AlertViewController* alert = test::alertOf(*rig.window);
    ASSERT_TRUE(test::waitUntil([&] { return alert->shown; }));  // the watchdog is not held
    EXPECT_EQ(rig.log.count("view will appear"), 1);
    EXPECT_EQ(alert->label->text().toStdString(), AlertViewController::message());

    ASSERT_TRUE(test::waitUntil([&] { return !rig.state().attached; }));  // left for its bootloader
    controller.unplug();
    controller.updateFaults([](auto& faults) { faults.mountAfterFinalStep = true; });
    controller.plug();
    ASSERT_TRUE(test::waitUntil([&] { return rig.engine->controllerIdentified(); }));
    EXPECT_EQ(rig.state().sta, UpSta::updating);  // the update goes on
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(alert, &escape);
    EXPECT_TRUE(rig.log.contains("alerted"));
    ASSERT_TRUE(test::waitUntil([&] { return !alert->shown; }));
    // Without a window manager, keys still reach the hidden alert: they must
    // not act for a dialog that is not shown.
    for (int i = 0; i < 6; ++i) {
        QApplication::sendEvent(alert, &escape);
    }
    ASSERT_TRUE(rig.waitLog("update verified: 1.3"));
    EXPECT_EQ(rig.log.count("alerted"), 1);
    EXPECT_EQ(controller.frameCount(sim::Command::finalStep), 2u);
    EXPECT_EQ(controller.receivedImage(), server.imageFile("1.3"));
    EXPECT_EQ(controller.receivedFirmware(), server.firmwareFile("1.3"));
    EXPECT_EQ(controller.violationCount(), 0u);
}

// The failure screen says which step failed; Copy details puts the engine's
// details on the clipboard, and OK takes the window back to its offer.
TEST(FailureScreen, CopiesTheDetailsAndOkGoesBackToTheOffer) {
    Rig rig(test::offline());
    ASSERT_NO_FATAL_FAILURE(prepareWindow(rig));
    rig.sim.controller().setFaults(
        sim::VirtualController::Faults::of(sim::DeviceFault::unplugInData));
    test::faceButton(*rig.window, "leftBut")->click();
    ASSERT_TRUE(rig.waitStatus(UpSta::failed));
    QPushButton* ok = test::button(*rig.window, "FailedOKBut");
    QPushButton* copy = test::button(*rig.window, "copyDetailsBut");
    ASSERT_TRUE(test::waitUntil([&] { return !ok->isHidden() && !copy->isHidden(); }));
    const std::string message = test::text(*rig.window, "msgLabel");
    EXPECT_NE(message.find("Update Fail!"), std::string::npos) << message;
    EXPECT_NE(message.find("Step that failed: transfer."), std::string::npos) << message;

    QGuiApplication::clipboard()->clear();
    copy->click();
    const std::string details = QGuiApplication::clipboard()->text().toStdString();
    EXPECT_EQ(details.rfind("Tarvo Remote Firmware Update ", 0), 0u) << details;
    EXPECT_NE(details.find("\nStatus: failed\n"), std::string::npos) << details;

    ok->click();
    EXPECT_EQ(rig.state().sta, UpSta::none);
    EXPECT_TRUE(ok->isHidden());
    EXPECT_TRUE(copy->isHidden());
}

}  // namespace
}  // namespace tarvo
