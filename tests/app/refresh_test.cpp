// The main window is drawn from the updater state alone: the table checks the
// pure function for every state; the widget tests check how a refresh reaches
// the views (main thread, lock, forgetting the choice, plain text).
#include <gtest/gtest.h>
#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <atomic>
#include <thread>

#include "sim/clocks.h"
#include "support/test_support.h"
#include "tcontroller/ui/dialogs/alert_view_controller.h"
#include "tcontroller/ui/image_button.h"
#include "tcontroller/platform/work_queue.h"
#include "tcontroller/ui/view_controller.h"
#include "tcontroller/ui/window_state.h"

namespace tarvo {
namespace {

using UpSta = Util::UpSta;
using UpMode = Util::UpMode;

const std::string kTitle = "Tarvo Remote Firmware Update - 2019-10-22";
const std::string kOffer = "*Update Recommanded Click \"UPDATE TO NEWEST\"";
const std::string kFailure =
    "If this message appears for more than 10 seconds, please keep the Update Tool "
    "running(WARNING: Don't close the Update Tool) and replug USB cable to finish update.";

class WindowTest : public ::testing::Test {
  protected:
    WindowTest() {
        platform.clock = &clock;
        platform.resourcesDir = TARVO_SOURCE_RESOURCES_DIR;
        platform.serverBase = "http://127.0.0.1:9";
        vc = std::make_unique<ViewController>(platform);
    }
    static std::string text(QLabel* label) { return label->text().toStdString(); }
    // Attaches a controller and answers its identification requests (model T,
    // firmware 1.1), as the monitor would deliver them.
    void attachIdentified() {
        const auto report = [](std::initializer_list<int> bytes) {
            QByteArray data(64, '\0');
            int at = 0;
            for (const int b : bytes) {
                data[at++] = static_cast<char>(b);
            }
            return data;
        };
        vc->hidConnectedWithNotification(std::make_shared<test::RecordingDevice>());
        vc->hidReadDataWithNotification(report({0xA9, 0x05, 1, 0, 0x9E, 'T', 0, 0x5C}));
        vc->hidReadDataWithNotification(report({0xA9, 0x07, 1, 0, 0xA0, '1', '1', '0', 0, 0x5C}));
    }
    sim::InstantClock clock;
    Platform platform;
    std::unique_ptr<ViewController> vc;
};

// The window table: one row per state, the pure function only.
struct Row {
    const char* name;
    WindowState state;
    WindowView expected;
};

const std::string kConfirm11 = "Do you want to update \nFrom: Firmware V1.1\nTo: Firmware V1.3";
const std::string kOffline =
    "No internet connection, newest version as of: Version 1.3 "
    "[2020-01-15] will be installed";
const std::string kProduct = "Tarvo Remote";
const std::string kRunning = "DO NOT remove power of USB cable";
const std::string kUpToDate = "Already the latest version";
const std::optional<Util::Histoty> k13 = Util::Histoty{"1.3", "2020-01-15"};

// One state and its window per row, kept compact by hand.
// clang-format off
const Row kRows[] = {
    {"idle_no_controller",
     {.title = kTitle, .fw = "000", .newest = "1.2", .hasNetwork = true},
     {.title = kTitle, .leftEnabled = false, .rightEnabled = false}},
    {"attached_newer",
     {.title = kTitle, .attached = true, .identified = true, .fw = "1.1", .newest = "1.2"},
     {.title = kTitle, .product = kProduct, .firmware = "V 1.1", .message = kOffer}},
    {"attached_up_to_date",
     {.title = kTitle, .attached = true, .identified = true, .fw = "1.2", .newest = "1.2"},
     {.title = kTitle, .product = kProduct, .firmware = "V 1.2", .message = kUpToDate,
      .leftEnabled = false}},
    // A published release newer than the built-in one is offered to a
    // controller that already runs the built-in one.
    {"attached_newer_published",
     {.title = kTitle, .attached = true, .identified = true, .fw = "1.2", .newest = "1.4"},
     {.title = kTitle, .product = kProduct, .firmware = "V 1.2", .message = kOffer}},
    // Nothing can start before the controller has said what it is.
    {"attached_unread_version",
     {.title = kTitle, .attached = true, .fw = "", .newest = "1.2"},
     {.title = kTitle, .product = kProduct, .firmware = "V ", .message = kOffer,
      .leftEnabled = false, .rightEnabled = false}},
    {"attached_other_model",
     {.title = kTitle, .attached = true, .otherModel = "X", .newest = "1.2"},
     {.title = kTitle, .product = kProduct,
      .message = "This controller reports model \"X\". This tool updates only the Tarvo Remote "
                 "(model T), so no update is offered. Nothing was changed on the controller.",
      .leftEnabled = false, .rightEnabled = false}},
    {"attached_silent",
     {.title = kTitle, .attached = true, .identifyTimedOut = true, .newest = "1.2"},
     {.title = kTitle, .product = kProduct,
      .message = "The controller does not answer. Unplug it, plug it in again and wait a few "
                 "seconds. If this happens again, contact support.",
      .leftEnabled = false, .rightEnabled = false}},
    {"pressed_while_checking_releases",
     {.title = kTitle, .attached = true, .identified = true, .fw = "1.1", .newest = "1.2",
      .checkingReleases = true},
     {.title = kTitle, .product = kProduct, .firmware = "V 1.1",
      .message = "Checking for firmware releases\u2026", .leftEnabled = false,
      .rightEnabled = false}},
    {"monitor_cannot_start",
     {.title = kTitle, .newest = "1.2", .monitorError = "cannot watch"},
     {.title = kTitle, .message = "cannot watch", .leftEnabled = false, .rightEnabled = false}},
    {"builtin_with_network",
     {.mode = UpMode::bIn, .title = kTitle, .attached = true, .identified = true, .fw = "1.1",
      .newest = "1.2", .hasNetwork = true, .selected = k13},
     {.title = kTitle, .product = kProduct, .firmware = "V 1.1", .message = kConfirm11,
      .modeChosen = true}},
    {"builtin_offline",
     {.mode = UpMode::bIn, .title = kTitle, .attached = true, .identified = true, .fw = "1.1",
      .newest = "1.2", .selected = k13},
     {.title = kTitle, .product = kProduct, .firmware = "V 1.1", .message = kOffline,
      .modeChosen = true}},
    {"builtin_offline_nothing_selected",
     {.mode = UpMode::bIn, .title = kTitle, .attached = true, .identified = true, .fw = "1.1",
      .newest = "1.2"},
     {.title = kTitle, .product = kProduct, .firmware = "V 1.1",
      .message = "No internet connection, newest version as of: Version 9.9.9 [1970-01-01] will "
                 "be installed",
      .modeChosen = true}},
    {"online_attached",
     {.mode = UpMode::online, .title = kTitle, .attached = true, .identified = true, .fw = "1.1",
      .newest = "1.3", .hasNetwork = true, .selected = k13},
     {.title = kTitle, .product = kProduct, .firmware = "V 1.1", .message = kConfirm11,
      .modeChosen = true}},
    {"offline_files_no_network",
     {.mode = UpMode::offline, .title = kTitle, .attached = true, .identified = true, .fw = "1.1",
      .newest = "1.2", .selected = k13},
     {.title = kTitle, .product = kProduct, .firmware = "V 1.1", .message = kConfirm11,
      .modeChosen = true}},
    {"mode_chosen_detached_with_mount",
     {.mode = UpMode::online, .title = kTitle, .fw = "1.1", .newest = "1.3", .hasNetwork = true,
      .mountWithFiles = true, .selected = k13},
     {.title = kTitle, .product = kProduct, .firmware = "V 1.1", .message = kConfirm11,
      .modeChosen = true, .leftEnabled = false, .rightEnabled = false}},
    {"mode_chosen_detached",
     {.mode = UpMode::online, .title = kTitle, .fw = "1.1", .newest = "1.3", .hasNetwork = true,
      .selected = k13},
     {.title = kTitle, .message = kConfirm11, .modeChosen = true, .leftEnabled = false,
      .rightEnabled = false}},
    {"updating",
     {.sta = UpSta::updating, .mode = UpMode::online, .title = kTitle, .attached = true,
      .identified = true, .fw = "1.1", .newest = "1.3", .hasNetwork = true, .selected = k13},
     {.title = kTitle, .product = kProduct, .firmware = "V 1.1", .message = kRunning,
      .modeChosen = true, .leftEnabled = false, .rightEnabled = false, .closeShown = false,
      .progressShown = true}},
    // A stick with the bootloader's label was left alone: said while idle, but
    // never in place of the warning not to unplug during an update.
    {"lookalike_drive_idle",
     {.title = kTitle, .attached = true, .identified = true, .fw = "1.1", .newest = "1.2",
      .foreignDriveNote = "left alone"},
     {.title = kTitle, .product = kProduct, .firmware = "V 1.1", .message = "left alone"}},
    {"lookalike_drive_updating",
     {.sta = UpSta::updating, .mode = UpMode::online, .title = kTitle, .attached = true,
      .identified = true, .fw = "1.1", .newest = "1.3", .hasNetwork = true, .selected = k13,
      .foreignDriveNote = "left alone"},
     {.title = kTitle, .product = kProduct, .firmware = "V 1.1", .message = kRunning,
      .modeChosen = true, .leftEnabled = false, .rightEnabled = false, .closeShown = false,
      .progressShown = true}},
    {"updating_in_bootloader",
     {.sta = UpSta::updating, .mode = UpMode::bIn, .title = kTitle, .fw = "1.1", .newest = "1.2",
      .hasNetwork = true, .mountWithFiles = true, .finalStep = true, .selected = k13},
     {.title = kTitle, .product = kProduct, .firmware = "V 1.1", .message = kRunning,
      .modeChosen = true, .leftEnabled = false, .rightEnabled = false, .closeShown = false,
      .progressShown = true}},
    {"succeeded",
     {.sta = UpSta::suc, .mode = UpMode::online, .title = kTitle, .attached = true,
      .identified = true, .fw = "1.3", .newest = "1.3", .hasNetwork = true, .selected = k13},
     {.title = kTitle, .modeChosen = true}},
    {"failed_before_final_step",
     {.sta = UpSta::failed, .mode = UpMode::online, .title = kTitle, .attached = true,
      .identified = true, .fw = "1.1", .newest = "1.3", .hasNetwork = true, .selected = k13},
     {.message = kFailure, .failure = true, .leftEnabled = false, .rightEnabled = false,
      .okShown = true, .detailsShown = true}},
    {"failed_with_a_cause_of_its_own",
     {.sta = UpSta::failed, .title = kTitle, .attached = true, .identified = true, .fw = "1.1",
      .newest = "1.3", .failureNote = "came back with 1.1"},
     {.message = "came back with 1.1", .failure = true, .leftEnabled = false,
      .rightEnabled = false, .okShown = true, .detailsShown = true}},
    {"failed_after_final_step",
     {.sta = UpSta::failed, .mode = UpMode::online, .title = kTitle, .fw = "1.1", .newest = "1.3",
      .hasNetwork = true, .mountWithFiles = true, .finalStep = true, .selected = k13},
     {.title = kTitle, .product = kProduct, .firmware = "V 1.1", .message = kConfirm11,
      .modeChosen = true}},
    // While the files come, only Cancel acts; a failed download says why.
    {"downloading",
     {.mode = UpMode::online, .title = kTitle, .attached = true, .identified = true, .fw = "1.1",
      .newest = "1.3", .hasNetwork = true, .selected = k13, .downloading = true,
      .downloadNote = "Downloading firmware 1.3"},
     {.title = kTitle, .product = kProduct, .firmware = "V 1.1",
      .message = "Downloading firmware 1.3", .leftEnabled = false, .rightEnabled = false,
      .progressShown = true, .cancelShown = true}},
    {"download_failed",
     {.title = kTitle, .attached = true, .identified = true, .fw = "1.1", .newest = "1.3",
      .hasNetwork = true, .downloadNote = "Could not download"},
     {.title = kTitle, .product = kProduct, .firmware = "V 1.1", .message = "Could not download",
      .detailsShown = true}},
    {"failed_no_mode",
     {.sta = UpSta::failed, .title = kTitle, .attached = true, .identified = true, .fw = "1.2",
      .newest = "1.2", .hasNetwork = true, .finalStep = true},
     {.title = kTitle, .product = kProduct, .firmware = "V 1.2", .message = kUpToDate,
      .leftEnabled = false}},
};
// clang-format on

class WindowTable : public ::testing::TestWithParam<Row> {};

TEST_P(WindowTable, ShowsTheState) {
    const Row& row = GetParam();
    const WindowView v = windowFor(row.state);
    const WindowView& e = row.expected;
    EXPECT_EQ(v.title, e.title);
    EXPECT_EQ(v.product, e.product);
    EXPECT_EQ(v.firmware, e.firmware);
    EXPECT_EQ(v.message, e.message);
    EXPECT_EQ(v.failure, e.failure);
    EXPECT_EQ(v.modeChosen, e.modeChosen);
    EXPECT_EQ(v.leftEnabled, e.leftEnabled);
    EXPECT_EQ(v.rightEnabled, e.rightEnabled);
    EXPECT_EQ(v.closeShown, e.closeShown);
    EXPECT_EQ(v.okShown, e.okShown);
    EXPECT_EQ(v.progressShown, e.progressShown);
    EXPECT_EQ(v.cancelShown, e.cancelShown);
    EXPECT_EQ(v.detailsShown, e.detailsShown);
}

INSTANTIATE_TEST_SUITE_P(Window, WindowTable, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

// A translation may put the values in another order; values are filled in
// once, so a model or version that holds "%1" is shown as it is.
TEST(WindowTranslation, ValuesFillTheTranslatedTextInItsOrder) {
    WindowState s;
    s.attached = true;
    s.identified = true;
    s.fw = "1.1";
    s.hasNetwork = true;
    s.mode = UpMode::online;
    s.selected = Util::Histoty{"%1.3", "2020-01-15"};
    s.translate = [](const char* source) {
        return std::string(source).rfind("Do you want", 0) == 0 ? "nach V%2 von V%1" : "?";
    };
    EXPECT_EQ(windowFor(s).message, "nach V%1.3 von V1.1");
    s.mode = UpMode::none;
    s.identified = false;
    s.otherModel = "X%2";
    EXPECT_EQ(windowFor(s).message, "?");
    s.translate = {};
    EXPECT_EQ(windowFor(s).message.rfind("This controller reports model \"X%2\". ", 0), 0u);
}

TEST_F(WindowTest, ConfirmationShowsTheChoiceOnceThenAnEmptyVersion) {
    vc->hidDeviceInfo.set(std::make_shared<test::RecordingDevice>());
    vc->hid_FW.set("1.1");
    vc->hasNetwork = true;
    vc->updateMode = UpMode::online;
    vc->selectedFW.set(Util::Histoty{"1.3", "2020-01-15"});
    vc->refreshUI();
    EXPECT_EQ(text(vc->msgLabel), kConfirm11);
    vc->refreshUI();
    EXPECT_EQ(text(vc->msgLabel), "Do you want to update \nFrom: Firmware V1.1\nTo: Firmware V");
}

TEST_F(WindowTest, TextsFromOutsideAreNeverMarkup) {
    // A version string from the server or the controller is shown as it is.
    vc->hidDeviceInfo.set(std::make_shared<test::RecordingDevice>());
    vc->hid_FW.set("<b>1</b>");
    vc->updateMode = UpMode::online;
    vc->hasNetwork = true;
    vc->selectedFW.set(Util::Histoty{"<img src=x>", "d"});
    vc->refreshUI();
    EXPECT_EQ(vc->FWLabel->textFormat(), Qt::PlainText);
    EXPECT_EQ(vc->msgLabel->textFormat(), Qt::PlainText);
    EXPECT_EQ(text(vc->msgLabel),
              "Do you want to update \nFrom: Firmware V<b>1</b>\nTo: Firmware V<img src=x>");
}

TEST_F(WindowTest, RefreshFromAnotherThreadIsQueuedToTheMainThreadUnderTheLock) {
    std::atomic<int> bodies{0};
    std::atomic<bool> onMain{false};
    std::atomic<bool> lockHeld{false};
    vc->refreshObserver = [&] {
        onMain = isMainThread();
        // The lock is held by this (main) thread: another thread cannot take it.
        std::thread probe([&] {
            const bool got = vc->lock.try_lock();
            if (got) {
                vc->lock.unlock();
            }
            lockHeld = !got;
        });
        probe.join();
        ++bodies;
    };
    vc->hidDeviceInfo.set(std::make_shared<test::RecordingDevice>());
    vc->hid_FW.set("1.1");
    std::thread other([&] { vc->refreshUI(); });
    other.join();
    // The request returned without drawing; the window changes only when the
    // main thread runs the queued refresh.
    EXPECT_EQ(bodies.load(), 0);
    EXPECT_EQ(text(vc->FWLabel), "");
    ASSERT_TRUE(test::waitUntil([&] { return bodies.load() == 1; }));
    EXPECT_TRUE(onMain.load());
    EXPECT_TRUE(lockHeld.load());
    EXPECT_EQ(text(vc->FWLabel), "V 1.1");
}

TEST_F(WindowTest, ScreenshotOfTheFailureAndTheAlert) {
    // The failure and the update-in-progress alert, for a look by eye.
    attachIdentified();
    vc->updateSta = UpSta::failed;
    vc->refreshUI();
    vc->show();
    test::pump(50);
    QDir().mkpath(TARVO_TEST_SCREENSHOT_DIR);
    EXPECT_TRUE(vc->grab().save(QString(TARVO_TEST_SCREENSHOT_DIR) + "/main-window-failed.png"));
    vc->alert->present();
    test::pump(50);
    EXPECT_TRUE(vc->alert->shown);
    // The message's longest line fits on one line.
    EXPECT_GE(vc->alert->label->width(),
              vc->alert->label->fontMetrics().horizontalAdvance(
                  "please keep the program running(Warning: Don't close the program)"));
    EXPECT_TRUE(vc->alert->grab().save(QString(TARVO_TEST_SCREENSHOT_DIR) + "/alert.png"));
    vc->alert->dismiss();
    EXPECT_FALSE(vc->alert->shown);
}

}  // namespace
}  // namespace tarvo
