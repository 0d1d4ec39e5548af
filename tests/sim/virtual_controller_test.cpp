#include <gtest/gtest.h>

#include <atomic>

#include "harness.h"

using tarvo::Bytes;
using tarvo::sim::Command;
using tarvo::sim::ViolationKind;

namespace {

Bytes padded(Bytes head) {
    head.resize(64, 0x00);
    return head;
}

}  // namespace

TEST(VirtualController, AnswersIdentificationByteExactFromItsOwnThreadAfterTheWrite) {
    ControllerRun run;
    // Like the tool: the model request goes out from inside the connect handler.
    std::atomic<bool> handlerDone{false};
    std::atomic<bool> replyBeforeHandlerDone{false};
    QObject::connect(
        &run.vc, &tarvo::HidMonitor::HIDDeviceConnected, &run.vc,
        [&](const tarvo::HIDDevicePtr& device) {
            EXPECT_TRUE(send(device, frames::model()).ok());
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            handlerDone = true;
        },
        Qt::DirectConnection);
    QObject::connect(
        &run.vc, &tarvo::HidMonitor::HIDDeviceDataReceived, &run.vc,
        [&](const tarvo::HIDDevicePtr&, const QByteArray&) {
            replyBeforeHandlerDone = replyBeforeHandlerDone || !handlerDone;
        },
        Qt::DirectConnection);
    run.run();
    auto device = run.plugAndWait();
    ASSERT_TRUE(device);
    ASSERT_TRUE(run.vc.waitUntilReplies(1));
    EXPECT_FALSE(replyBeforeHandlerDone);

    ASSERT_TRUE(send(device, frames::version()).ok());
    ASSERT_TRUE(run.vc.waitUntilReplies(2));

    const auto replies = run.events.of(Event::data);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].bytes, padded({0xA9, 0x05, 0x01, 0x00, 0x9E, 'T', 0x08, 0x5C}));
    EXPECT_EQ(replies[1].bytes, padded({0xA9, 0x07, 0x01, 0x00, 0xA0, '1', '1', '0', 0xC6, 0x5C}));
    // Every notification comes from the loop's thread, never the writer's.
    for (const auto& e : run.events.all()) {
        EXPECT_EQ(e.thread, replies[0].thread);
        EXPECT_NE(e.thread, std::this_thread::get_id());
    }
    EXPECT_EQ(run.vc.violationCount(), 0u);
}

TEST(VirtualController, CountsEveryKindOfMalformedFrameAndDropsIt) {
    ControllerRun run;
    run.run();
    auto device = run.plugAndWait();
    ASSERT_TRUE(device);

    auto corrupt = [](Bytes f, std::size_t at, std::uint8_t value) {
        f[at] = value;
        return f;
    };
    Bytes chunk(10, 0x42);
    Bytes noTrailer = frames::data(chunk.data(), chunk.size());
    noTrailer.pop_back();
    Bytes badHeader = frames::frame(0x9E, {});
    badHeader[3] = 0x01;
    badHeader[5] = static_cast<std::uint8_t>(badHeader[5] - 1);  // checksum still right
    struct Case {
        const char* what;
        Bytes frame;
        std::uint8_t reportId;
        int reportType;
        ViolationKind kind;
    };
    const std::vector<Case> cases = {
        {"too short", {0xA9, 0x04, 0x01, 0x00, 0x9E, 0x5D}, 1, 1, ViolationKind::size},
        {"longer than a report", Bytes(65, 0xA9), 1, 1, ViolationKind::size},
        {"start byte", corrupt(frames::model(), 0, 0xA8), 1, 1, ViolationKind::startByte},
        {"LEN", corrupt(frames::model(), 1, 0x05), 1, 1, ViolationKind::length},
        {"header", badHeader, 1, 1, ViolationKind::header},
        {"report ID argument", frames::model(), 0, 1, ViolationKind::reportId},
        {"report type", frames::model(), 1, 2, ViolationKind::reportType},
        {"checksum", corrupt(frames::model(), 5, 0x5E), 1, 1, ViolationKind::checksum},
        {"end byte", corrupt(frames::model(), 6, 0x5D), 1, 1, ViolationKind::endByte},
        {"missing trailer", noTrailer, 1, 1, ViolationKind::trailer},
        {"wrong trailer", corrupt(frames::data(chunk.data(), 10), 19, 0xFE), 1, 1,
         ViolationKind::trailer},
        {"unknown command", frames::frame(0x55, {}), 1, 1, ViolationKind::command},
        {"begin/end payload", frames::frame(0x96, {0x02}), 1, 1, ViolationKind::payload},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::size_t before = run.vc.violationCount(c.kind);
        const std::size_t total = run.vc.violationCount();
        EXPECT_TRUE(send(device, c.frame, c.reportId, c.reportType).ok());
        EXPECT_EQ(run.vc.violationCount(c.kind), before + 1);
        EXPECT_EQ(run.vc.violationCount(), total + 1);
    }
    EXPECT_TRUE(device->setReport(1, 1, nullptr, 10).ok());
    EXPECT_EQ(run.vc.violationCount(ViolationKind::size), 3u);
    // None of them was taken as a request: no reply, nothing counted.
    EXPECT_EQ(run.vc.frameCount(Command::modelRequest), 0u);
    EXPECT_EQ(run.vc.frameCount(Command::begin), 0u);
}

TEST(VirtualController, CountsOrderAndChunkViolations) {
    ControllerRun run;
    run.run();
    auto device = run.plugAndWait();
    ASSERT_TRUE(device);
    const Bytes image(108, 0x5A);
    auto count = [&](ViolationKind k) { return run.vc.violationCount(k); };

    send(device, frames::data(image.data(), 54));  // before any begin
    EXPECT_EQ(count(ViolationKind::order), 1u);
    send(device, frames::end());  // end without begin
    EXPECT_EQ(count(ViolationKind::order), 2u);
    send(device, frames::finalStep());  // no complete image yet
    EXPECT_EQ(count(ViolationKind::order), 3u);
    ASSERT_TRUE(run.vc.waitUntilDisconnected());  // the command is obeyed all the same
    run.vc.unplug();
    device = run.plugAndWait();
    ASSERT_TRUE(device);

    send(device, frames::begin());  // without erase
    EXPECT_EQ(count(ViolationKind::order), 4u);

    // A 108-byte image ending without its empty final frame.
    send(device, frames::erase());
    send(device, frames::begin());
    send(device, frames::data(image.data(), 54));
    send(device, frames::data(image.data() + 54, 54));
    send(device, frames::end());
    EXPECT_EQ(count(ViolationKind::order), 5u);

    // Chunk length field that lies, and a short chunk that is not the last.
    send(device, frames::erase());
    send(device, frames::begin());
    Bytes lying = frames::frame(0x97, {0x00, 0x36, 1, 2, 3}, true);
    send(device, lying);
    EXPECT_EQ(count(ViolationKind::chunk), 1u);
    send(device, frames::data(image.data(), 54));
    EXPECT_EQ(count(ViolationKind::chunk), 2u);
    EXPECT_EQ(run.vc.violationCount(), 7u);
}
