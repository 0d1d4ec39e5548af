// The main window is a function of the engine's state: the table checks
// windowFor for each rule; the live tests check that the real window shows
// what the engine reports after real events on the simulated platform.
#include <gtest/gtest.h>
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QTextDocument>
#include <QTranslator>

#include "sim/simulated_platform.h"
#include "support/test_support.h"
#include "support/window_parts.h"
#include "tcontroller/ui/dialogs/sel_view_controller.h"
#include "tcontroller/ui/view_controller.h"
#include "tcontroller/ui/window_state.h"

namespace tarvo {
namespace {

using UpSta = Util::UpSta;
using UpMode = Util::UpMode;
using test::faceButton;
using test::text;

const std::string kProduct = "Tarvo Remote";
const std::string kOffer = "*Update Recommanded Click \"UPDATE TO NEWEST\"";
const std::string kConfirm = "Do you want to update \nFrom: Firmware V1.1\nTo: Firmware V1.3";
const std::string kRunning = "DO NOT remove power of USB cable";
const Util::Histoty k13{"1.3", "2020-01-15"};

// A view in the rows' terms: the title, product, firmware and message lines,
// then the views that are on, in this order: failure (the styled failure
// text), chosen (OK/CANCEL faces), left, right (enabled), close, ok, progress,
// cancel, details (shown), announced (to screen readers), and which button
// takes the focus.
std::string describe(const WindowView& v) {
    const std::pair<bool, const char*> flags[] = {
        {v.failure, "failure"},
        {v.modeChosen, "chosen"},
        {v.leftEnabled, "left"},
        {v.rightEnabled, "right"},
        {v.closeShown, "close"},
        {v.okShown, "ok"},
        {v.progressShown, "progress"},
        {v.cancelShown, "cancel"},
        {v.detailsShown, "details"},
        {v.announced, "announced"},
        {v.focus == WindowView::Focus::left, "focus:left"},
        {v.focus == WindowView::Focus::ok, "focus:ok"}};
    std::string out = v.title + " | " + v.product + " | " + v.firmware + " | " + v.message + " |";
    for (const auto& [on, name] : flags) {
        out += on ? std::string(" ") + name : "";
    }
    return out;
}
// The same for a view expected: the 1.1 controller's lines unless others are given.
std::string shows(const std::string& message, const std::string& on,
                  const std::string& product = kProduct, const std::string& firmware = "V 1.1",
                  const std::string& title = "T") {
    return title + " | " + product + " | " + firmware + " | " + message + " | " + on;
}

// A controller that identified itself, running 1.1, with 1.3 the newest
// known, changed by `change`.
UpdateSnapshot on11(const std::function<void(UpdateSnapshot&)>& change = {}) {
    UpdateSnapshot s{.attached = true, .identified = true, .fw = "1.1", .newest = "1.3"};
    if (change) {
        change(s);
    }
    return s;
}

struct Row {
    const char* name;
    UpdateSnapshot state;
    std::string expected;
};
void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

// clang-format off
const Row kRows[] = {
    {"no_controller", {.fw = "000", .newest = "1.2"},
     shows("Connect the Tarvo Remote to this computer with its USB cable. If it is connected and "
           "does not appear here, the tool may not be allowed to use it: run "
           "\"tarvo-remote-update doctor\" in a terminal.", "close", "", "")},
    {"offer", on11(), shows(kOffer, "left right close focus:left")},
    // Which one would be meant? Nothing is offered, nor a prepared update.
    {"two_controllers", on11([](auto& s) { s.controllersAttached = 2; s.mode = UpMode::online; }),
     shows("2 controllers are attached. Unplug all but one, or open the station view.", "close",
           "", "")},
    {"up_to_date", on11([](auto& s) { s.fw = "1.3"; }),
     shows("Already the latest version", "right close", kProduct, "V 1.3")},
    // Nothing can start before the controller has said what it is.
    {"version_not_read_yet", {.attached = true, .newest = "1.2"},
     shows(kOffer, "close", kProduct, "V ")},
    {"unsupported_model", {.attached = true, .otherModel = "X", .newest = "1.2"},
     shows("This controller reports model \"X\". This tool updates only the Tarvo Remote "
           "(model T), so no update is offered. Nothing was changed on the controller.", "close",
           kProduct, "")},
    {"silent_controller", {.attached = true, .identifyTimedOut = true, .newest = "1.2"},
     shows("The controller does not answer. Unplug it, plug it in again and wait a few seconds. "
           "If this happens again, contact support.", "close", kProduct, "")},
    {"checking_releases", on11([](auto& s) { s.checkingReleases = true; }),
     shows("Checking for firmware releases\u2026", "close")},
    {"monitor_cannot_start", {.monitorError = "cannot watch"},
     shows("cannot watch", "close", "", "")},
    {"confirm_built_in_with_network",
     on11([](auto& s) { s.mode = UpMode::bIn; s.hasNetwork = true; s.selected = k13; }),
     shows(kConfirm, "chosen left right close focus:left")},
    {"confirm_built_in_offline", on11([](auto& s) { s.mode = UpMode::bIn; s.selected = k13; }),
     shows("No internet connection, newest version as of: Version 1.3 [2020-01-15] will be "
           "installed", "chosen left right close focus:left")},
    // An older release is said to be one, however it was chosen.
    {"confirm_downgrade", on11([](auto& s) { s.mode = UpMode::online; s.selected = {{"1.0", ""}}; }),
     shows("This installs an older firmware.\nFrom: Firmware V1.1\nTo: Firmware V1.0 (older)",
           "chosen left right close focus:left")},
    {"confirm_downgrade_built_in_offline",
     on11([](auto& s) { s.fw = "1.4"; s.mode = UpMode::bIn; s.selected = k13; }),
     shows("This installs an older firmware.\nFrom: Firmware V1.4\nTo: Firmware V1.3 (older)",
           "chosen left right close focus:left", kProduct, "V 1.4")},
    {"confirm_local_files_offline",
     on11([](auto& s) { s.mode = UpMode::offline; s.selected = k13; }),
     shows(kConfirm, "chosen left right close focus:left")},
    // The warning not to unplug stands over a foreign drive's note.
    {"updating", on11([](auto& s) {
         s.sta = UpSta::updating; s.mode = UpMode::online; s.foreignDriveNote = "left alone"; }),
     shows(kRunning, "chosen progress")},
    // In its bootloader the controller is named by the volume that holds the release.
    {"updating_resumed_in_bootloader",
     {.sta = UpSta::updating, .mode = UpMode::bIn, .fw = "1.1", .mountWithFiles = true,
      .finalStep = true, .resumeNote = "resumed"},
     shows("resumed", "chosen progress")},
    // After the final step the controller is off the bus on its way to its
    // bootloader: it is still the one being updated, and named so.
    {"updating_controller_away_after_final_step",
     {.sta = UpSta::updating, .mode = UpMode::online, .fw = "1.1", .finalStep = true},
     shows(kRunning, "chosen progress")},
    {"updating_volume_not_mounted", on11([](auto& s) {
         s.sta = UpSta::updating; s.volumeNote = "mount it"; s.resumeNote = "resumed"; }),
     shows("mount it", "progress")},
    {"succeeded", on11([](auto& s) { s.sta = UpSta::suc; s.mode = UpMode::online; }),
     shows("", "chosen left right close focus:left", "", "")},
    {"verified", on11([](auto& s) { s.fw = "1.3"; s.verifiedVersion = "1.3"; }),
     shows("Firmware 1.3 installed and verified.", "right close announced", kProduct, "V 1.3")},
    {"failed", on11([](auto& s) { s.sta = UpSta::failed; s.mode = UpMode::online; }),
     shows(kGeneralFailureText, "failure close ok details announced focus:ok", "", "", "")},
    {"failed_with_its_cause", on11([](auto& s) { s.sta = UpSta::failed; s.failureNote = "1.1"; }),
     shows("1.1", "failure close ok details announced focus:ok", "", "", "")},
    // Once the final step was sent the replug alert speaks for the failure.
    {"failed_after_final_step", on11([](auto& s) {
         s.sta = UpSta::failed; s.mode = UpMode::online; s.selected = k13; s.finalStep = true; }),
     shows(kConfirm, "chosen left right close focus:left")},
    // While the files come, only Cancel acts; a failed download says why.
    {"downloading", on11([](auto& s) {
         s.mode = UpMode::online; s.downloading = true; s.downloadNote = "Downloading";
         s.foreignDriveNote = "left alone"; }),
     shows("Downloading", "close progress cancel")},
    {"download_failed", on11([](auto& s) { s.downloadNote = "Could not download"; }),
     shows("Could not download", "left right close details focus:left")},
    {"foreign_drive_left_alone", on11([](auto& s) { s.foreignDriveNote = "left alone"; }),
     shows("left alone", "left right close focus:left")},
};
// clang-format on

class WindowTable : public ::testing::TestWithParam<Row> {};

TEST_P(WindowTable, ShowsTheState) {
    WindowState state;
    static_cast<UpdateSnapshot&>(state) = GetParam().state;
    state.title = "T";
    EXPECT_EQ(describe(windowFor(state)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Window, WindowTable, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

// A translation may put the values in another order; values are filled in
// once, so a model or version that holds "%1" is shown as it is.
TEST(WindowTranslation, ValuesFillTheTranslatedTextInItsOrder) {
    WindowState s;
    static_cast<UpdateSnapshot&>(s) = on11([](auto& u) {
        u.mode = UpMode::online;
        u.selected = Util::Histoty{"1.3.%1", "2020-01-15"};
    });
    s.translate = [](const char* source) {
        return std::string(source).starts_with("Do you want") ? "nach V%2 von V%1" : "?";
    };
    EXPECT_EQ(windowFor(s).message, "nach V1.3.%1 von V1.1");
    static_cast<UpdateSnapshot&>(s) = {.attached = true, .otherModel = "X%2"};
    EXPECT_EQ(windowFor(s).message, "?");
}

// The real window on the simulated platform with the controller (model T,
// firmware 1.1) plugged in, once it shows the controller and the network
// report is handled.
std::unique_ptr<ViewController> startedOn(sim::SimulatedPlatform& sim) {
    sim.controller().plug();
    auto vc = std::make_unique<ViewController>(sim.platform());
    vc->viewDidLoad();
    EXPECT_TRUE(test::waitUntil(
        [&] { return text(*vc, "FWLabel") == "V 1.1" && !vc->engine().awaitingHistory(); }));
    return vc;
}

TEST(LiveWindow, FollowsTheEngineFromTheOfferToTheConfirmationAndBack) {
    sim::SimulatedPlatform sim;
    sim.server().publish({{"1.3", "2020-01-15", {}, {}}, {"1.2", "2019-10-22", {}, {}}});
    const auto vc = startedOn(sim);
    ImageButton* left = faceButton(*vc, "leftBut");
    ImageButton* right = faceButton(*vc, "rightBut");
    // The message, then each face's text and picture.
    const auto shown = [&] {
        return text(*vc, "msgLabel") + " | " + left->text().toStdString() + " " +
               left->imageName().toStdString() + " | " + right->text().toStdString() + " " +
               right->imageName().toStdString();
    };
    const std::string offer =
        kOffer +
        " | UPDATE TO NEWEST button_onlineUpdate | UPDATE TO PREVIOUS button_offlineUpdate";
    EXPECT_EQ(shown(), offer);
    ASSERT_TRUE(left->isEnabled() && right->isEnabled());
    left->click();  // the newest comes through the loopback server
    ASSERT_TRUE(test::waitUntil([&] { return vc->engine().snapshot().filesHeld; }));
    EXPECT_EQ(shown(), kConfirm + " | OK button_ok | CANCEL button_cancel");
    EXPECT_TRUE(left->isEnabled());
    // The confirmation's OK has the focus (a second Enter confirms), and
    // Escape is its CANCEL.
    EXPECT_EQ(vc->focusWidget(), left);
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(left, &escape);
    EXPECT_EQ(vc->engine().snapshot().mode, UpMode::none);
    EXPECT_EQ(shown(), offer);
    right->click();  // with a network: the version chooser opens
    EXPECT_TRUE(test::waitUntil([&] { return vc->findChild<SelViewController*>() != nullptr; }));
}

// A translation whose words hold characters that mean something in markup.
class MarkupTranslation : public QTranslator {
  public:
    QString translate(const char*, const char* source, const char*, int) const override {
        return qstrcmp(source, "transfer") == 0 ? QStringLiteral("<b>transfer</b> & co")
                                                : QString();
    }
    bool isEmpty() const override { return false; }
};

// The failure screen: its text is markup the window makes around words that
// may hold anything (here a translation's), and those are shown as they are;
// Copy details and OK.
TEST(LiveWindow, AFailureIsToldAsPlainText) {
    MarkupTranslation translation;
    QCoreApplication::installTranslator(&translation);
    sim::SimulatedPlatform sim({.network = Reachability::Connection::none});
    sim.controller().updateFaults([](auto& f) { f.failWritesAfterDataFrames = 0; });
    const auto vc = startedOn(sim);
    vc->show();
    faceButton(*vc, "leftBut")->click();  // offline: the built-in release
    faceButton(*vc, "leftBut")->click();  // OK: the first data frame fails
    QPushButton* ok = test::button(*vc, "FailedOKBut");
    QPushButton* copy = test::button(*vc, "copyDetailsBut");
    ASSERT_TRUE(test::waitUntil([&] { return !ok->isHidden() && !copy->isHidden(); }));
    // OK has the focus, and screen readers find the failure as an alert.
    EXPECT_EQ(vc->focusWidget(), ok);
    QAccessibleInterface* told =
        QAccessible::queryAccessibleInterface(test::label(*vc, "msgLabel"));
    ASSERT_NE(told, nullptr);
    EXPECT_EQ(told->role(), QAccessible::AlertMessage);
    EXPECT_EQ(told->text(QAccessible::Name).toStdString().rfind("Update Fail!\n", 0), 0u);
    const std::string cause = vc->engine().snapshot().failureNote;
    EXPECT_NE(cause.find("<b>transfer</b> & co"), std::string::npos) << cause;
    QTextDocument shown;
    shown.setHtml(test::label(*vc, "msgLabel")->text());
    EXPECT_EQ(shown.toPlainText().toStdString(), "Update Fail!\n" + cause);

    // Copy details (Enter on it) puts the engine's details for support on the
    // clipboard, and says so.
    QGuiApplication::clipboard()->clear();
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(copy, &enter);
    EXPECT_EQ(copy->text().toStdString(), "Copied");
    const std::string details = QGuiApplication::clipboard()->text().toStdString();
    EXPECT_EQ(details.rfind("Tarvo Remote Firmware Update ", 0), 0u) << details;
    EXPECT_NE(details.find("\nStatus: failed\n"), std::string::npos) << details;
    // OK takes the window back to its offer.
    ok->click();
    EXPECT_EQ(text(*vc, "msgLabel"), kOffer);
    EXPECT_TRUE(ok->isHidden() && copy->isHidden());
}

// A second controller on the bus, for the window only: it takes any report.
class OtherController : public HIDDevice {
  public:
    Result<void> setReport(int, std::uint8_t, const std::uint8_t*, std::size_t) override {
        return Result<void>::success();
    }
    std::string name() const override { return "other"; }
    std::string port() const override { return "1-1.3"; }
};

// With a second controller attached the window offers the station's window
// (and takes the keyboard there); it asks for it and goes away with the second.
TEST(LiveWindow, ASecondControllerOffersTheStationView) {
    sim::SimulatedPlatform sim;
    const auto vc = startedOn(sim);
    vc->show();
    QPushButton* station = test::button(*vc, "stationBut");
    EXPECT_TRUE(station->isHidden());
    const auto other = std::make_shared<OtherController>();
    vc->engine().hidConnectedWithNotification(other);
    ASSERT_TRUE(test::waitUntil([&] { return !station->isHidden(); }));
    EXPECT_EQ(text(*vc, "msgLabel"),
              "2 controllers are attached. Unplug all but one, or open the station view.");
    EXPECT_EQ(vc->focusWidget(), station);
    int asked = 0;
    QObject::connect(vc.get(), &ViewController::stationRequested, [&] { ++asked; });
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(station, &enter);
    EXPECT_EQ(asked, 1);
    vc->engine().hidDisconnectedWithNotification(other);
    ASSERT_TRUE(test::waitUntil([&] { return station->isHidden(); }));
    EXPECT_EQ(text(*vc, "FWLabel"), "V 1.1");
}

}  // namespace
}  // namespace tarvo
