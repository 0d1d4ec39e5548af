// The device link seen from the window: report writes, attach and detach, and
// the identification exchange against the virtual controller.
#include "e2e/rig.h"
#include "tcontroller/device/commands.h"

namespace tarvo {
namespace {

using test::RecordingDevice;
using test::Rig;
using namespace std::chrono_literals;

// The window alone, with a recording device record instead of a controller.
class SendReportTest : public ::testing::Test {
  protected:
    SendReportTest() {
        platform.clock = &clock;
        vc = std::make_unique<ViewController>(platform);
    }
    sim::InstantClock clock;
    Platform platform;
    std::unique_ptr<ViewController> vc;
    test::LogCapture log;
};

TEST_F(SendReportTest, ResultRules) {
    const Bytes shortFrame = Commands::modelRequest();
    const Bytes fullFrame = *Commands::imageDataFrame(Bytes(54, 7));
    ASSERT_EQ(fullFrame.size(), 64u);

    // No controller: nothing written or logged, flag unchanged.
    vc->flag = true;
    EXPECT_FALSE(vc->sendReport(shortFrame, false));
    EXPECT_TRUE(vc->flag.load());
    EXPECT_TRUE(log.lines().empty());

    auto device = std::make_shared<RecordingDevice>();
    vc->hidDeviceInfo.set(device);

    // Success: flag follows expectReply, one log line with the return code.
    EXPECT_TRUE(vc->sendReport(shortFrame, true));
    EXPECT_TRUE(vc->flag.load());
    EXPECT_TRUE(vc->sendReport(fullFrame, false));
    EXPECT_FALSE(vc->flag.load());
    ASSERT_EQ(device->writes().size(), 2u);
    EXPECT_EQ(device->writes()[0], shortFrame);  // the whole frame, start byte included
    auto lines = log.withPrefix("write spend: ");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find(" - return code: 0"), std::string::npos) << lines[0];

    // A failed 64-byte frame is a failed write: no write line, flag unchanged,
    // the cause on a line of its own.
    device->setResult(Result<void>::failure("recording: No such device"));
    vc->flag = true;
    EXPECT_FALSE(vc->sendReport(fullFrame, false));
    EXPECT_TRUE(vc->flag.load());
    EXPECT_EQ(log.withPrefix("write spend: ").size(), 2u);
    EXPECT_EQ(log.lines().back(), "write failed: recording: No such device");

    // A short frame counts as sent whatever the platform said: the write line
    // keeps the platform's error code, and the cause follows it on the next line.
    device->setResult(Result<void>::failure("recording: \x1b[2Jgone\n"));
    vc->flag = false;
    EXPECT_TRUE(vc->sendReport(shortFrame, true));
    EXPECT_TRUE(vc->flag.load());
    lines = log.withPrefix("write spend: ");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[2].find(" - return code: e00002bc"), std::string::npos) << lines[2];
    const int written = log.indexOf(lines[2]);
    ASSERT_GE(written, 0);
    EXPECT_EQ(log.lines().at(static_cast<std::size_t>(written) + 1),
              "write failed: recording: \\x1B[2Jgone\\x0A");

    // A buffer too short to carry a report ID is never written.
    EXPECT_FALSE(vc->sendReport(Bytes{0xA9, 0x04}, false));
    EXPECT_EQ(device->writes().size(), 4u);
}

TEST_F(SendReportTest, ConnectWithoutADeviceRecordResetsAndRefreshes) {
    vc->updateMode = Util::UpMode::online;
    vc->FWData.set(Bytes{1});
    int refreshes = 0;
    vc->refreshObserver = [&] { ++refreshes; };
    // A notification without a device record: resets run, the model request
    // fails, refresh.
    vc->hidConnectedWithNotification(nullptr);
    EXPECT_TRUE(log.contains("hid connect"));
    EXPECT_EQ(vc->updateMode.load(), Util::UpMode::none);
    EXPECT_FALSE(vc->FWData.get().has_value());
    EXPECT_EQ(vc->hid_FW.get(), "");
    EXPECT_EQ(refreshes, 1);
}

TEST_F(SendReportTest, RepliesOutOfTurnAreIgnored) {
    auto device = std::make_shared<RecordingDevice>();
    vc->hidConnectedWithNotification(device);
    ASSERT_TRUE(vc->flag.load());
    const auto reply = [](std::vector<std::uint8_t> head) {
        QByteArray r(64, 0);
        for (std::size_t i = 0; i < head.size(); ++i) {
            r[static_cast<int>(i)] = static_cast<char>(head[i]);
        }
        return r;
    };
    // A version reply while the model is awaited, a wrong end byte, a short report.
    vc->hidReadDataWithNotification(reply({0xA9, 0x07, 1, 0, 0xA0, '1', '1', '0', 0, 0x5C}));
    vc->hidReadDataWithNotification(reply({0xA9, 0x05, 1, 0, 0x9E, 'T', 0, 0x00}));
    vc->hidReadDataWithNotification(QByteArray("\xA9\x05", 2));
    EXPECT_EQ(vc->readSta.load(), Util::ReadSta::MODEL);
    EXPECT_EQ(device->writes().size(), 1u);
    // The model reply moves on and asks for the version.
    vc->hidReadDataWithNotification(reply({0xA9, 0x05, 1, 0, 0x9E, 'T', 0, 0x5C}));
    EXPECT_EQ(vc->readSta.load(), Util::ReadSta::FW);
    ASSERT_EQ(device->writes().size(), 2u);
    EXPECT_EQ(device->writes()[1], (Bytes{0xA9, 0x05, 0x01, 0x00, 0xA0, 0x00, 0x5A, 0x5C}));
    // A second model reply is not a version reply.
    vc->hidReadDataWithNotification(reply({0xA9, 0x05, 1, 0, 0x9E, 'X', 0, 0x5C}));
    EXPECT_EQ(vc->hid_model.get(), "T");
    vc->hidReadDataWithNotification(reply({0xA9, 0x07, 1, 0, 0xA0, '2', 0xFF, '3', 0, 0x5C}));
    EXPECT_EQ(vc->readSta.load(), Util::ReadSta::DONE);
    EXPECT_EQ(vc->hid_FW.get(), "2.0");
    EXPECT_FALSE(vc->flag.load());
    EXPECT_TRUE(log.contains("model: T, fw: 2.0, sta: none"));
    // Once done, even a well-formed reply changes nothing.
    vc->flag = true;
    vc->hidReadDataWithNotification(reply({0xA9, 0x07, 1, 0, 0xA0, '9', '9', '9', 0, 0x5C}));
    EXPECT_EQ(vc->hid_FW.get(), "2.0");
}

TEST(DeviceLink, IdentifiesTheControllerAndOffersTheUpdate) {
    Rig rig;
    rig.publishDefault();
    rig.sim.controller().plug();
    rig.start();
    ASSERT_TRUE(rig.waitIdle("1.1"));
    EXPECT_EQ(rig.vc->hid_model.get(), "T");
    EXPECT_FALSE(rig.vc->flag.load());
    ASSERT_TRUE(test::waitUntil([&] { return rig.vc->FWLabel->text() == "V 1.1"; }));
    EXPECT_EQ(rig.message(), "*Update Recommanded Click \"UPDATE TO NEWEST\"");
    EXPECT_TRUE(rig.vc->leftBut->isEnabled());
    const int connect = rig.log.indexOf("hid connect");
    ASSERT_GE(connect, 0);
    EXPECT_GT(rig.log.indexOf("model: T, fw: 1.1, sta: none", connect), connect);
    EXPECT_GT(rig.log.indexOf("display 3", connect), connect);
    // The model reply is logged as a hex dump of the whole report.
    const auto dumps = rig.log.withPrefix("    A9 05 01 00 9E 54 ");
    EXPECT_EQ(dumps.size(), 1u);
    EXPECT_EQ(rig.sim.controller().violationCount(), 0u);
}

TEST(DeviceLink, AnotherModelStopsAfterTheModelStep) {
    Rig rig;
    rig.sim.controller().updateConfig([](auto& config) { config.model = 'X'; });
    rig.sim.controller().plug();
    rig.start();
    ASSERT_TRUE(test::waitUntil([&] { return rig.vc->hid_model.get() == "X"; }));
    test::pump(100);
    EXPECT_EQ(rig.vc->readSta.load(), Util::ReadSta::MODEL);
    EXPECT_FALSE(rig.vc->flag.load());
    EXPECT_EQ(rig.sim.controller().frameCount(sim::Command::versionRequest), 0u);
    EXPECT_TRUE(rig.log.withPrefix("model: ").empty());
}

TEST(DeviceLink, DetachAtEachStepStartsTheExchangeOver) {
    Rig rig;
    auto& controller = rig.sim.controller();
    controller.updateFaults([](auto& faults) { faults.neverReply = true; });
    controller.plug();
    rig.start();
    ASSERT_TRUE(test::waitUntil([&] { return rig.vc->flag.load(); }));
    controller.unplug();
    ASSERT_TRUE(test::waitUntil([&] { return rig.log.contains("hid disconnect"); }));
    EXPECT_EQ(rig.vc->readSta.load(), Util::ReadSta::MODEL);
    EXPECT_FALSE(rig.vc->hidDeviceInfo.get());

    // Identified, then detached: back to the model step, window without controller.
    controller.updateFaults([](auto& faults) { faults.neverReply = false; });
    controller.updateConfig([](auto& config) { config.versionChars = {'2', '\xff', '3'}; });
    controller.plug();
    ASSERT_TRUE(rig.waitIdle("2.0"));
    controller.unplug();
    ASSERT_TRUE(test::waitUntil([&] { return rig.log.count("hid disconnect") == 2; }));
    EXPECT_EQ(rig.vc->readSta.load(), Util::ReadSta::MODEL);
    ASSERT_TRUE(test::waitUntil([&] { return rig.vc->FWLabel->text().isEmpty(); }));
    EXPECT_FALSE(rig.vc->leftBut->isEnabled());
}

}  // namespace
}  // namespace tarvo
