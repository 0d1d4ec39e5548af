// The main window is drawn from the updater state alone: each row of the state
// table gives one window.
#include <gtest/gtest.h>
#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTextDocument>
#include <atomic>
#include <thread>

#include "sim/clocks.h"
#include "support/test_support.h"
#include "tcontroller/dialogs/alert_view_controller.h"
#include "tcontroller/image_button.h"
#include "tcontroller/platform/work_queue.h"
#include "tcontroller/view_controller.h"

namespace tarvo {
namespace {

using UpSta = Util::UpSta;
using UpMode = Util::UpMode;

const std::string kTitle = "Tarvo Remote Firmware Update - 2019-10-22";
const std::string kOffer = "*Update Recommanded Click \"UPDATE TO NEWEST\"";
const std::string kFailure =
    "Update Fail!\nIf this message appears for more than 10 seconds, please keep the Update "
    "Tool running(WARNING: Don't close the Update Tool) and replug USB cable to finish update.";
constexpr const char* kFailureMarker = "<failure>";

class WindowTest : public ::testing::Test {
  protected:
    WindowTest() {
        platform.clock = &clock;
        platform.resourcesDir = TARVO_SOURCE_RESOURCES_DIR;
        platform.serverBase = "http://127.0.0.1:9";
        vc = std::make_unique<ViewController>(platform);
    }
    std::string text(QLabel* label) {
        if (label->textFormat() == Qt::RichText) {
            QTextDocument doc;
            doc.setHtml(label->text());
            return kFailureMarker + doc.toPlainText().toStdString();
        }
        return label->text().toStdString();
    }
    // Attaches a controller and answers its identification requests, as the
    // monitor would deliver them; `versionToo` false stops after the model.
    void attach(char model, bool versionToo) {
        const auto report = [](std::initializer_list<int> bytes) {
            QByteArray data(64, '\0');
            int at = 0;
            for (const int b : bytes) {
                data[at++] = static_cast<char>(b);
            }
            return QVariantMap{{"data", data}};
        };
        vc->hidConnectedWithNotification(QVariantMap{
            {"device",
             QVariant::fromValue<HIDDevicePtr>(std::make_shared<test::RecordingDevice>())}});
        vc->hidReadDataWithNotification(report({0xA9, 0x05, 1, 0, 0x9E, model, 0, 0x5C}));
        if (versionToo) {
            vc->hidReadDataWithNotification(
                report({0xA9, 0x07, 1, 0, 0xA0, '1', '1', '0', 0, 0x5C}));
        }
    }
    sim::InstantClock clock;
    Platform platform;
    std::unique_ptr<ViewController> vc;
};

// The attached controller and how far its identification got.
enum Controller { kNone, kIdentifying, kIdentified, kOtherModel };

struct Row {
    const char* name;
    UpSta sta;
    UpMode mode;
    Controller controller;
    const char* fw;
    bool network;
    bool mount;
    bool finalStep;
    bool selected;
    // Expected window.
    std::string title, product, firmware, message;
    bool leftEnabled, rightEnabled;
    const char* leftImage;
    bool closeShown, okShown, progressShown;
};

const std::string kConfirm11 = "Do you want to update \nFrom: Firmware V1.1\nTo: Firmware V1.3";
const std::string kOffline =
    "No internet connection, newest version as of: Version 1.3 "
    "[2020-01-15] will be installed";
const std::string kProduct = "Tarvo Remote";

const Row kRows[] = {
    {"idle_no_controller", UpSta::none, UpMode::none, kNone, "000", true, false, false, false,
     kTitle, "", "", "", false, false, "button_onlineUpdate", true, false, false},
    {"attached_newer", UpSta::none, UpMode::none, kIdentified, "1.1", true, false, false, false,
     kTitle, kProduct, "V 1.1", kOffer, true, true, "button_onlineUpdate", true, false, false},
    {"attached_up_to_date", UpSta::none, UpMode::none, kIdentified, "1.2", true, false, false,
     false, kTitle, kProduct, "V 1.2", "Already the latest version", false, true,
     "button_onlineUpdate", true, false, false},
    // Nothing can start before the controller has said what it is.
    {"attached_unread_version", UpSta::none, UpMode::none, kIdentifying, "", true, false, false,
     false, kTitle, kProduct, "V ", kOffer, false, false, "button_onlineUpdate", true, false,
     false},
    {"attached_other_model", UpSta::none, UpMode::none, kOtherModel, "", true, false, false, false,
     kTitle, kProduct, "",
     "This controller reports model \"X\". This tool updates only the Tarvo Remote (model T), so "
     "no update is offered. Nothing was changed on the controller.",
     false, false, "button_onlineUpdate", true, false, false},
    {"builtin_with_network", UpSta::none, UpMode::bIn, kIdentified, "1.1", true, false, false, true,
     kTitle, kProduct, "V 1.1", kConfirm11, true, true, "button_ok", true, false, false},
    {"builtin_offline", UpSta::none, UpMode::bIn, kIdentified, "1.1", false, false, false, true,
     kTitle, kProduct, "V 1.1", kOffline, true, true, "button_ok", true, false, false},
    {"builtin_offline_nothing_selected", UpSta::none, UpMode::bIn, kIdentified, "1.1", false, false,
     false, false, kTitle, kProduct, "V 1.1",
     "No internet connection, newest version as of: Version 9.9.9 [1970-01-01] will be "
     "installed",
     true, true, "button_ok", true, false, false},
    {"online_attached", UpSta::none, UpMode::online, kIdentified, "1.1", true, false, false, true,
     kTitle, kProduct, "V 1.1", kConfirm11, true, true, "button_ok", true, false, false},
    {"offline_files_no_network", UpSta::none, UpMode::offline, kIdentified, "1.1", false, false,
     false, true, kTitle, kProduct, "V 1.1", kConfirm11, true, true, "button_ok", true, false,
     false},
    {"mode_chosen_detached_with_mount", UpSta::none, UpMode::online, kNone, "1.1", true, true,
     false, true, kTitle, kProduct, "V 1.1", kConfirm11, false, false, "button_ok", true, false,
     false},
    {"mode_chosen_detached", UpSta::none, UpMode::online, kNone, "1.1", true, false, false, true,
     kTitle, "", "", kConfirm11, false, false, "button_ok", true, false, false},
    {"updating", UpSta::updating, UpMode::online, kIdentified, "1.1", true, false, false, true,
     kTitle, kProduct, "V 1.1", "DO NOT remove power of USB cable", false, false, "button_ok",
     false, false, true},
    {"updating_in_bootloader", UpSta::updating, UpMode::bIn, kNone, "1.1", true, true, true, true,
     kTitle, kProduct, "V 1.1", "DO NOT remove power of USB cable", false, false, "button_ok",
     false, false, true},
    {"succeeded", UpSta::suc, UpMode::online, kIdentified, "1.3", true, false, false, true, kTitle,
     "", "", "", true, true, "button_ok", true, false, false},
    {"failed_before_final_step", UpSta::failed, UpMode::online, kIdentified, "1.1", true, false,
     false, true, "", "", "", kFailureMarker + kFailure, true, true, "button_ok", true, true,
     false},
    {"failed_after_final_step", UpSta::failed, UpMode::online, kNone, "1.1", true, true, true, true,
     kTitle, kProduct, "V 1.1", kConfirm11, true, true, "button_ok", true, false, false},
    {"failed_no_mode", UpSta::failed, UpMode::none, kIdentified, "1.2", true, false, true, false,
     kTitle, kProduct, "V 1.2", "Already the latest version", false, true, "button_onlineUpdate",
     true, false, false},
};

class RefreshTable : public WindowTest, public ::testing::WithParamInterface<Row> {};

TEST_P(RefreshTable, DrawsTheWindowFromTheState) {
    const Row& row = GetParam();
    // Attached first: an attach resets the update fields set below.
    if (row.controller == kIdentifying) {
        attach('T', false);
    } else if (row.controller == kIdentified) {
        attach('T', true);
    } else if (row.controller == kOtherModel) {
        attach('X', false);
    }
    vc->updateSta = row.sta;
    vc->updateMode = row.mode;
    vc->hasNetwork = row.network;
    vc->hid_FW.set(row.fw);
    vc->finalStep = row.finalStep;
    vc->usbMount = row.mount;
    if (row.mount) {
        vc->FWData.set(Bytes{1});
        vc->imageData.set(Bytes{2});
    }
    if (row.selected) {
        vc->selectedFW.set(Util::Histoty{"1.3", "2020-01-15"});
    }
    vc->refreshUI();

    EXPECT_EQ(text(vc->titleLabel), row.title);
    EXPECT_EQ(text(vc->prodLabel), row.product);
    EXPECT_EQ(text(vc->FWLabel), row.firmware);
    EXPECT_EQ(text(vc->msgLabel), row.message);
    EXPECT_EQ(vc->leftBut->isEnabled(), row.leftEnabled);
    EXPECT_EQ(vc->rightBut->isEnabled(), row.rightEnabled);
    const bool chosen = std::string(row.leftImage) == "button_ok";
    EXPECT_EQ(vc->leftBut->imageName().toStdString(), row.leftImage);
    EXPECT_EQ(vc->leftBut->pressedImageName().toStdString(), std::string(row.leftImage) + "_press");
    EXPECT_EQ(vc->rightBut->imageName().toStdString(),
              chosen ? "button_cancel" : "button_offlineUpdate");
    EXPECT_EQ(vc->rightBut->pressedImageName().toStdString(),
              chosen ? "button_cancel_press" : "button_offlineUpdate_press");
    EXPECT_EQ(!vc->closeBut->isHidden(), row.closeShown);
    EXPECT_EQ(!vc->FailedOKBut->isHidden(), row.okShown);
    EXPECT_EQ(!vc->progress->isHidden(), row.progressShown);
    // A refresh without an update status forgets the chosen version.
    EXPECT_EQ(vc->selectedFW.get().has_value(), row.selected && row.sta != UpSta::none);
}

INSTANTIATE_TEST_SUITE_P(Window, RefreshTable, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

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

TEST_F(WindowTest, ScreenshotOfTheUpdateOffer) {
    vc->hidDeviceInfo.set(std::make_shared<test::RecordingDevice>());
    vc->hid_FW.set("1.1");
    vc->hasNetwork = true;
    vc->refreshUI();
    vc->show();
    test::pump(50);
    const QImage shot = vc->grab().toImage();
    ASSERT_FALSE(shot.isNull());
    // The offer's button art is loaded from the resources, not the fallback.
    EXPECT_EQ(vc->leftBut->imageName(), "button_onlineUpdate");
    QDir().mkpath(TARVO_TEST_SCREENSHOT_DIR);
    EXPECT_TRUE(shot.save(QString(TARVO_TEST_SCREENSHOT_DIR) + "/main-window-attached.png"));

    // The failure and the update-in-progress alert, for a look by eye.
    vc->updateSta = UpSta::failed;
    vc->refreshUI();
    test::pump(50);
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
