// The device link of the engine: report writes, attach and detach, and the
// identification exchange, fed by hand and against the virtual controller.
#include "e2e/rig.h"
#include "tcontroller/device/commands.h"

namespace tarvo {
namespace {

using test::Rig;

// A device record that accepts (or refuses) every write and remembers them.
class RecordingDevice : public HIDDevice {
  public:
    Result<void> setReport(int, std::uint8_t, const std::uint8_t* bytes,
                           std::size_t length) override {
        writes_.mutate([&](auto& all) { all.emplace_back(bytes, bytes + length); });
        return result_.get();
    }
    std::string name() const override { return "recording"; }
    void setResult(Result<void> r) { result_.set(std::move(r)); }
    std::vector<Bytes> writes() const { return writes_.get(); }

  private:
    Guarded<std::vector<Bytes>> writes_;
    Guarded<Result<void>> result_{Result<void>::success()};
};

// A report of the controller: `head`, then zeros up to 64 bytes.
QByteArray reply(std::vector<std::uint8_t> head) {
    QByteArray r(64, 0);
    for (std::size_t i = 0; i < head.size(); ++i) {
        r[static_cast<int>(i)] = static_cast<char>(head[i]);
    }
    return r;
}
const QByteArray kModelT = reply({0xA9, 0x05, 1, 0, 0x9E, 'T', 0, 0x5C});

// The engine alone, its platform events fed by the test, with a recording
// device record instead of a controller.
class DeviceRecord : public ::testing::Test {
  protected:
    DeviceRecord() {
        platform.clock = &clock;
        engine = std::make_unique<UpdateEngine>(platform);
    }
    ~DeviceRecord() override { clock.release(); }  // no transfer left waiting
    // Attaches the device record and answers the identification as 1.1.
    void identify() {
        engine->hidConnectedWithNotification(device);
        engine->hidReadDataWithNotification(device, kModelT);
        engine->hidReadDataWithNotification(
            device, reply({0xA9, 0x07, 1, 0, 0xA0, '1', '1', '0', 0, 0x5C}));
        ASSERT_TRUE(engine->controllerIdentified());
    }
    sim::InstantClock clock;
    Platform platform;
    std::unique_ptr<UpdateEngine> engine;
    std::shared_ptr<RecordingDevice> device = std::make_shared<RecordingDevice>();
    test::LogCapture log;
};

TEST_F(DeviceRecord, WritesAndWhetherAReplyIsAwaited) {
    const Bytes shortFrame = Commands::modelRequest();
    const Bytes fullFrame = *Commands::imageDataFrame(Bytes(54, 7));
    ASSERT_EQ(fullFrame.size(), 64u);

    // No controller: nothing written or logged.
    EXPECT_FALSE(engine->sendReport(shortFrame, false));
    EXPECT_TRUE(log.lines().empty());

    // (Writes that succeed, whole and with their lines: Engine.AloneLogsTheSame...)
    engine->hidConnectedWithNotification(device);  // writes the model request
    EXPECT_TRUE(engine->sendReport(shortFrame, true));
    EXPECT_TRUE(engine->sendReport(fullFrame, false));
    // The last write awaited no reply: the model reply is not taken.
    engine->hidReadDataWithNotification(device, kModelT);
    EXPECT_EQ(engine->snapshot().model, "");

    // A short frame counts as sent whatever the platform said: the write line
    // keeps the platform's error code, and the cause follows it.
    device->setResult(Result<void>::failure("recording: No such device"));
    EXPECT_TRUE(engine->sendReport(shortFrame, true));
    // A failed 64-byte frame is a failed write: no write line, the cause on a
    // line of its own, and the reply awaited before it is still awaited.
    log.clear();
    EXPECT_FALSE(engine->sendReport(fullFrame, false));
    EXPECT_EQ(log.lines(), std::vector<std::string>{"write failed: recording: No such device"});
    device->setResult(Result<void>::failure("recording: \x1b[2Jgone\n"));
    // The same answer from another device is not this controller's: dropped.
    engine->hidReadDataWithNotification(std::make_shared<RecordingDevice>(), kModelT);
    EXPECT_EQ(engine->snapshot().model, "");
    engine->hidReadDataWithNotification(device, kModelT);  // taken; the version request goes out
    EXPECT_EQ(engine->snapshot().model, "T");
    const auto lines = log.lines();
    const auto written = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
        return l.rfind("write spend: ", 0) == 0;
    });
    ASSERT_NE(written, lines.end());
    EXPECT_NE(written->find(" - return code: e00002bc"), std::string::npos) << *written;
    ASSERT_NE(written + 1, lines.end());
    EXPECT_EQ(*(written + 1), "write failed: recording: \\x1B[2Jgone\\x0A");

    // A buffer too short to carry a report ID is never written.
    const std::size_t writes = device->writes().size();
    EXPECT_FALSE(engine->sendReport(Bytes{0xA9, 0x04}, false));
    EXPECT_EQ(device->writes().size(), writes);
}

// An attach resets the prepared release, also without a device record (the
// model request then fails), and says so.
TEST_F(DeviceRecord, AnAttachForgetsThePreparedRelease) {
    engine->takeRelease(Util::UpMode::online, {"1.3", ""}, Bytes{1}, Bytes{2});
    ASSERT_TRUE(engine->snapshot().filesHeld);
    int changes = 0;
    QObject::connect(engine.get(), &UpdateEngine::changed, engine.get(), [&] { ++changes; });
    engine->hidConnectedWithNotification(nullptr);
    EXPECT_TRUE(log.contains("hid connect"));
    const UpdateSnapshot s = engine->snapshot();
    EXPECT_EQ(s.mode, Util::UpMode::none);
    EXPECT_FALSE(s.filesHeld);
    EXPECT_EQ(changes, 1);
}

// A controller that leaves and comes back during the erase wait as the same
// device record (a platform may hand out one record per node) ends the
// attempt all the same: nothing after the erase is written to it.
TEST_F(DeviceRecord, AReattachDuringTheEraseWaitEndsTheAttempt) {
    clock.holdSleepsOfAtLeast(1.0);
    ASSERT_NO_FATAL_FAILURE(identify());
    engine->takeRelease(Util::UpMode::offline, {"1.3", ""}, Bytes(100, 1), Bytes(10, 2));
    engine->confirm();
    ASSERT_TRUE(test::waitUntil([&] { return clock.heldSleepers() == 1; }));
    engine->hidDisconnectedWithNotification(device);
    ASSERT_NO_FATAL_FAILURE(identify());
    const std::size_t written = device->writes().size();
    clock.release();
    ASSERT_TRUE(test::waitUntil([&] {
        return engine->snapshot().sta == Util::UpSta::failed ||
               !log.withPrefix("image update done").empty();
    }));
    EXPECT_EQ(device->writes().size(), written);
    EXPECT_FALSE(log.contains("begin image update"));
}

TEST(DeviceLink, IdentifiesTheControllerAnewOnEachAttach) {
    Rig rig;
    auto& controller = rig.sim.controller();
    controller.updateFaults([](auto& faults) { faults.neverReply = true; });
    controller.plug();
    rig.start();
    ASSERT_TRUE(
        test::waitUntil([&] { return controller.frameCount(sim::Command::modelRequest) == 1; }));
    controller.unplug();
    ASSERT_TRUE(rig.waitLog("hid disconnect"));
    EXPECT_FALSE(rig.state().attached);

    // Identified, then detached: back to the model step, without controller.
    controller.updateFaults([](auto& faults) { faults.neverReply = false; });
    controller.updateConfig([](auto& config) { config.versionChars = {'2', '\xff', '3'}; });
    controller.plug();
    ASSERT_TRUE(rig.waitIdle("2.0"));
    const int connect = rig.log.indexOf("hid connect", rig.log.indexOf("hid disconnect"));
    EXPECT_GT(rig.log.indexOf("model: T, fw: 2.0, sta: none", connect), connect);
    // The model reply is logged as a hex dump of the whole report.
    EXPECT_EQ(rig.log.withPrefix("    A9 05 01 00 9E 54 ").size(), 1u);
    controller.unplug();
    ASSERT_TRUE(test::waitUntil([&] { return rig.log.count("hid disconnect") == 2; }));
    EXPECT_FALSE(rig.state().identified);
    EXPECT_FALSE(rig.state().attached);
}

}  // namespace
}  // namespace tarvo
