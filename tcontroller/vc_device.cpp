// The device link of the main window controller: report writes, the attach and
// detach handlers and the identification exchange.
#include "tcontroller/device/commands.h"
#include "tcontroller/device/hex_dump.h"
#include "tcontroller/device/reply_parser.h"
#include "tcontroller/platform/log.h"
#include "tcontroller/text_format.h"
#include "tcontroller/view_controller.h"

namespace tarvo {
namespace {
constexpr std::size_t kFullReport = 64;
}

bool ViewController::sendReport(const Bytes& frame, bool expectReply) {
    // The device record is taken once: a detach during the write leaves the
    // handle valid (shared ownership) and the write simply fails.
    const HIDDevicePtr device = hidDeviceInfo.get();
    if (!device) {
        return false;
    }
    if (frame.size() < 3) {
        // Every frame carries its report ID at offset 2; a shorter buffer is
        // not a frame and is never written.
        return false;
    }
    const double start = platform_.clock->now();
    const std::uint8_t reportId = frame[2];
    const int result =
        device->setReport(kHIDReportTypeOutput, reportId, frame.data(), frame.size());
    if (result != kHIDReturnSuccess && frame.size() == kFullReport) {
        return false;
    }
    // A short command frame counts as sent whatever the platform answered; the
    // code is logged so support can see it.
    flag.store(expectReply);
    const double elapsed = platform_.clock->now() - start;
    logLine("write spend: " + shortestDecimal(elapsed) +
            " - return code: " + lowerHex(static_cast<unsigned int>(result)));
    return true;
}

void ViewController::hidConnectedWithNotification(const QVariant& object) {
    std::lock_guard<std::mutex> hold(lock2);
    if (object.metaType() != QMetaType::fromType<QVariantMap>()) {
        return;
    }
    const QVariantMap dictionary = object.toMap();
    setProgressLater(0);
    logLine("hid connect");
    const QVariant device = dictionary.value(QStringLiteral("device"));
    hidDeviceInfo.set(device.metaType() == QMetaType::fromType<HIDDevicePtr>()
                          ? device.value<HIDDevicePtr>()
                          : HIDDevicePtr{});
    updateMode.store(UpMode::none);
    updateSta.store(UpSta::none);
    hid_FW.set("");
    hid_model.set("");
    imageData.set(std::nullopt);
    FWData.set(std::nullopt);
    finalStep.store(false);
    if (!sendReport(Commands::modelRequest(), true)) {
        refreshUI();
    }
}

void ViewController::hidDisconnectedWithNotification(const QVariant&) {
    std::lock_guard<std::mutex> hold(lock2);
    logLine("hid disconnect");
    readSta.store(ReadSta::MODEL);
    hidDeviceInfo.set(HIDDevicePtr{});
    if (imageUpdated.load()) {
        // The controller left the bus for its bootloader: the final step goes on.
        return;
    }
    const UpSta sta = updateSta.load();
    if (sta == UpSta::none || sta == UpSta::suc) {
        updateSta.store(UpSta::none);
        updateMode.store(UpMode::none);
    } else {
        updateSta.store(UpSta::failed);
    }
    refreshUI();
}

void ViewController::hidReadDataWithNotification(const QVariant& object) {
    const QByteArray report = object.toMap().value(QStringLiteral("data")).toByteArray();
    applyReply(report);
}

void ViewController::applyReply(const QByteArray& report) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(report.constData());
    const auto length = static_cast<std::size_t>(report.size());
    const ReplyDecision decision = ReplyParser::parse(readSta.load(), flag.load(), bytes, length);
    switch (decision.kind) {
        case ReplyDecision::Kind::ignore:
            return;
        case ReplyDecision::Kind::modelReply:
            flag.store(false);
            platform_.clock->sleep(0.010);
            logLine(hexDump(bytes, length));
            hid_model.set(decision.model);
            if (decision.model == MODEL_NAME) {
                readSta.store(ReadSta::FW);
                if (!sendReport(Commands::firmwareVersionRequest(true), true)) {
                    refreshUI();
                }
            }
            return;
        case ReplyDecision::Kind::firmwareReply: {
            logLine(hexDump(bytes, length));
            hid_FW.set(decision.firmware);
            readSta.store(ReadSta::DONE);
            flag.store(false);
            const UpSta sta = updateSta.load();
            logLine("model: " + hid_model.get() + ", fw: " + decision.firmware +
                    ", sta: " + std::string(Util::name(sta)));
            if (sta != UpSta::suc) {
                logLine("display 3");
                refreshUI();
            }
            return;
        }
    }
}

}  // namespace tarvo
