// The engine's side of the device: report writes, the attach and detach
// handlers and the identification exchange.
#include <QPointer>
#include <QTimer>
#include <string_view>

#include "tcontroller/base/log.h"
#include "tcontroller/base/text_format.h"
#include "tcontroller/base/ticks.h"
#include "tcontroller/catalogue/version.h"
#include "tcontroller/device/controller_link.h"
#include "tcontroller/device/frame.h"
#include "tcontroller/device/hex_dump.h"
#include "tcontroller/device/reply_parser.h"
#include "tcontroller/update/update_engine.h"

#include <algorithm>

namespace tarvo {

bool UpdateEngine::sendReport(const Bytes& frame, bool expectReply) {
    return sendReportTo(hidDeviceInfo.get(), frame, expectReply);
}

ControllerLink UpdateEngine::linkToAttached() {
    // The device record is taken once: a detach during a write leaves the
    // handle valid (shared ownership) and the write simply fails.
    HIDDevicePtr device = hidDeviceInfo.get();
    return ControllerLink({[this, device](const Bytes& frame, bool expectReply) {
                               return sendReportTo(device, frame, expectReply);
                           },
                           [this, device] { return device && hidDeviceInfo.get() == device; }},
                          *platform_.clock);
}

bool UpdateEngine::sendReportTo(const HIDDevicePtr& device, const Bytes& frame, bool expectReply) {
    if (!device) {
        return false;
    }
    if (frame.size() < 3) {
        // Every frame carries its report ID at offset 2; a shorter buffer is
        // not a frame and is never written.
        return false;
    }
    // Timed with the fast counter, and the line written out on the log's own
    // thread: this runs once per data frame of the image, which must cost the
    // host little more than the write itself and allocate nothing.
    const std::uint64_t start = ticks::now();
    const std::uint8_t reportId = frame[2];
    const Result<void> written =
        device->setReport(kHIDReportTypeOutput, reportId, frame.data(), frame.size());
    const std::uint64_t end = ticks::now();
    if (!written.ok() && frame.size() == frame::kReportSize) {
        logLine("write failed: " + escapeForLog(written.error));
        return false;
    }
    // A short command frame counts as sent whatever the platform answered; the
    // code is logged so support can see it, and the cause on the next line.
    flag.store(expectReply);
    logWrite(start, end, writeCode(written));
    if (!written.ok()) {
        logLine("write failed: " + escapeForLog(written.error));
    }
    return true;
}

void UpdateEngine::hidConnectedWithNotification(const HIDDevicePtr& device) {
    std::lock_guard<std::mutex> hold(lock2);
    // A record reported again (a monitor may report a device attached before
    // it started twice) is still one controller.
    if (std::find(attachedDevices_.begin(), attachedDevices_.end(), device) ==
        attachedDevices_.end()) {
        attachedDevices_.push_back(device);
    }
    attachedCount_.store(static_cast<int>(attachedDevices_.size()));
    // The controller being updated, back from its bootloader while another
    // is on the bus, is taken again: by its port where ports are known.
    const bool returning = hidDeviceInfo.get() == nullptr && imageOrFirmwareSent() &&
                           (device->port().empty() || device->port() == updatingPort_.get());
    if (attachedDevices_.size() > 1 && !returning && device != hidDeviceInfo.get()) {
        // Another controller beside the one taken: the engine never switches
        // to it (an update that runs goes on with its own controller), and
        // offers nothing while both are there.
        logLine("another controller attached: " + std::to_string(attachedDevices_.size()) +
                " on the bus");
        publish();
        return;
    }
    takeDevice(device);
}

void UpdateEngine::takeDevice(const HIDDevicePtr& device) {
    // Once the image was sent the update is past the point of no return: a
    // controller re-attached while its final step is awaited (the alert asks
    // the user to replug) keeps the update, its release and its bar, so the
    // final step can be sent again and the right firmware written.
    const bool updateGoesOn = imageUpdated.load();
    if (!updateGoesOn) {
        setProgressLater(0);
    }
    logLine("hid connect");
    const unsigned epoch = ++attachEpoch_;
    identifiedDevice_.set(HIDDevicePtr{});
    identifyTimedOut_.store(false);
    hidDeviceInfo.set(device);
    if (!updateGoesOn) {
        updateMode.store(UpMode::none);
        updateSta.store(UpSta::none);
    }
    // What a failed download said was about the controller attached then.
    if (!downloading_.load()) {
        downloadNote_.set({});
    }
    hid_FW.set("");
    hid_model.set("");
    if (!updateGoesOn) {
        std::lock_guard<std::mutex> release(releaseLock_);
        imageData.set(nullptr);
        FWData.set(std::nullopt);
        finalStep.store(false);
    }
    if (!linkToAttached().requestModel().ok()) {
        publish();
    }
    watchIdentification(epoch);
}

void UpdateEngine::watchIdentification(unsigned epoch) {
    // A controller that does not answer within a few seconds is named in the
    // window instead of leaving the buttons waiting without a word. The wait
    // is real time on a main-thread timer: it only decides what the window
    // says, and it must not be cut short by a test clock while a reply is on
    // its way.
    constexpr int kIdentifyMs = 5000;
    QPointer<UpdateEngine> self(this);
    postToMain([self, epoch] {
        if (!self) {
            return;
        }
        QTimer::singleShot(kIdentifyMs, self, [self, epoch] {
            if (!self || self->attachEpoch_.load() != epoch || !self->hidDeviceInfo.get() ||
                self->readSta.load() == ReadSta::DONE) {
                return;
            }
            // Another model answered: the window already names it.
            if (const std::string model = self->hid_model.get();
                !model.empty() && model != self->MODEL_NAME) {
                return;
            }
            logLine("controller did not answer identification");
            self->identifyTimedOut_.store(true);
            self->publish();
        });
    });
}

void UpdateEngine::hidDisconnectedWithNotification(const HIDDevicePtr& device) {
    std::lock_guard<std::mutex> hold(lock2);
    std::erase(attachedDevices_, device);
    attachedCount_.store(static_cast<int>(attachedDevices_.size()));
    if (device != hidDeviceInfo.get() && hidDeviceInfo.get() != nullptr) {
        // One of the others went; the one taken stays.
        logLine("another controller detached: " + std::to_string(attachedDevices_.size()) +
                " on the bus");
        publish();
        return;
    }
    logLine("hid disconnect");
    ++attachEpoch_;
    readSta.store(ReadSta::MODEL);
    identifiedDevice_.set(HIDDevicePtr{});
    hidDeviceInfo.set(HIDDevicePtr{});
    if (imageUpdated.load()) {
        // The controller left the bus for its bootloader: the final step goes on.
        return;
    }
    // What was verified was this controller; the next one plugged in is not it.
    verifiedVersion_.set({});
    const UpSta sta = updateSta.load();
    if (sta == UpSta::none || sta == UpSta::suc) {
        updateSta.store(UpSta::none);
        updateMode.store(UpMode::none);
    } else {
        updateSta.store(UpSta::failed);
    }
    publish();
    if (attachedDevices_.size() == 1 && updateSta.load() == UpSta::none) {
        // The one left on the bus is now the controller the tool speaks to.
        takeDevice(attachedDevices_.front());
    }
}

void UpdateEngine::hidReadDataWithNotification(const HIDDevicePtr& device,
                                               const QByteArray& report) {
    // The record is set by the connect handler before any request goes out,
    // on the monitor's thread that also delivers the replies.
    if (device != hidDeviceInfo.get()) {
        return;
    }
    applyReply(report);
}

void UpdateEngine::applyReply(const QByteArray& report) {
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
                if (!linkToAttached().requestFirmwareVersion().ok()) {
                    publish();
                }
                return;
            }
            // Another model is never offered an update; the window says so.
            logLine("unsupported controller model: " + escapeForLog(decision.model));
            publish();
            return;
        case ReplyDecision::Kind::firmwareReply: {
            logLine(hexDump(bytes, length));
            hid_FW.set(decision.firmware);
            readSta.store(ReadSta::DONE);
            flag.store(false);
            const UpSta sta = updateSta.load();
            const std::string model = hid_model.get();
            if (model == MODEL_NAME) {
                identifiedDevice_.set(hidDeviceInfo.get());
            }
            logLine("model: " + escapeForLog(model) + ", fw: " + escapeForLog(decision.firmware) +
                    ", sta: " + std::string(Util::name(sta)));
            verifyUpdate(decision.firmware);
            if (sta != UpSta::suc) {
                logLine("display 3");
                publish();
            }
            return;
        }
    }
}

void UpdateEngine::verifyUpdate(const std::string& reported) {
    const std::string expected = expectedVersion_.get();
    if (expected.empty()) {
        return;
    }
    expectedVersion_.set({});
    // Verified or not, the update has ended: a restart has nothing to finish.
    resumeNote_.set({});
    if (pending_) {
        pending_->clear();
    }
    // Equal keys are the same version ("1.3" and "1.3.0" alike).
    if (!isNewer(expected, reported) && !isNewer(reported, expected)) {
        logLine("update verified: " + escapeForLog(expected));
        verifiedVersion_.set(reported);
        publish();
        return;
    }
    stage_.store(UpdateStage::verification);
    logLine("update not verified: controller reports " + escapeForLog(reported) + ", expected " +
            escapeForLog(expected));
    failureNote_.set(tr("The controller came back with firmware %1 instead of %2: it did not "
                        "take the new firmware. Keep it plugged in and run the update again. If "
                        "this happens again, contact support.")
                         .arg(QString::fromStdString(reported), QString::fromStdString(expected))
                         .toStdString());
    updateSta.store(UpSta::failed);
}

}  // namespace tarvo
