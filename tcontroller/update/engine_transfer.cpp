// The image transfer: erase, the fixed erase wait, then the image in 54-byte
// data frames, one output report each, through the controller link. Runs on queue1.
#include "tcontroller/base/log.h"
#include "tcontroller/base/text_format.h"
#include "tcontroller/device/controller_link.h"
#include "tcontroller/device/progress_weights.h"
#include "tcontroller/update/update_engine.h"

namespace tarvo {

void UpdateEngine::sendImage(const Bytes& image) {
    Clock& clock = *platform_.clock;
    // The transfer belongs to the controller it erases: every frame goes to
    // that device record, and any detach or attach since the start (a replug
    // that is back before the next check included) ends the attempt, so
    // nothing after the erase reaches a controller that was not erased in it.
    const TransferTarget target{controllerIdentified() ? identifiedDevice_.get() : HIDDevicePtr{},
                                attachEpoch_.load()};
    ControllerLink link({[this, &target](const Bytes& frame, bool expectReply) {
                             return sendReportTo(target.device, frame, expectReply);
                         },
                         [this, &target] { return stillAttached(target); }},
                        clock);
    const auto progress = [this](ControllerLink::Stage stage, std::size_t i, std::size_t n) {
        if (stage == ControllerLink::Stage::erase) {
            setProgressLater(static_cast<double>(i + 1));
            setProgressLineLater(eraseProgress(static_cast<double>(i)));
            return;
        }
        if (i == n) {
            setProgressLater(progress::kDataEnd);
        } else if (i > 0) {
            setProgressLater(progress::afterDataFrame(i - 1, n));
        }
        setProgressLineLater(transferProgress(i, n));
    };
    const double t0 = clock.now();
    stage_.store(UpdateStage::erase);
    Result<void> sent = link.erase(progress);
    if (sent.ok()) {
        stage_.store(UpdateStage::transfer);
        sent = link.sendImage(image, progress);
    }
    if (!sent.ok() && sent.error == ControllerLink::kDetached) {
        updateSta.store(UpSta::failed);
        publish();
        return;
    }
    if (!sent.ok()) {
        imageUpdateDone(sent);
        return;
    }
    const double t1 = clock.now();
    logLine(shortestDecimal(t1) + " - " + shortestDecimal(t0) + " = " + shortestDecimal(t1 - t0) +
            " seconds");
    keepPendingRelease();
    imageUpdateDone(sent);
}

void UpdateEngine::keepPendingRelease() {
    const std::optional<SentRelease> sent = sentRelease_.get();
    const std::shared_ptr<const Bytes> image = imageData.get();
    if (!pending_ || !sent || !image) {
        return;
    }
    if (const Result<void> kept = pending_->save(sent->ver, *image, sent->firmware); !kept.ok()) {
        // The update goes on; only a restart before its end would fall back
        // to the built-in release.
        logLine("cannot keep the release for a restart: " + escapeForLog(kept.error));
    }
}

bool UpdateEngine::stillAttached(const TransferTarget& target) const {
    // Compared under the lock, without taking a reference: this runs once per frame.
    return target.device && attachEpoch_.load() == target.epoch &&
           hidDeviceInfo.with([&target](const HIDDevicePtr& d) { return d == target.device; });
}

}  // namespace tarvo
