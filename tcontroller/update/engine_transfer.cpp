// The image transfer: erase, the fixed erase wait, then the image in 54-byte
// data frames, one output report each. Runs on queue1.
#include "tcontroller/base/log.h"
#include "tcontroller/base/text_format.h"
#include "tcontroller/device/commands.h"
#include "tcontroller/device/frame.h"
#include "tcontroller/device/progress_weights.h"
#include "tcontroller/update/update_engine.h"

namespace tarvo {
namespace {
constexpr std::size_t kChunk = frame::kChunkSize;
const char* const kDeviceGone = "hid device is not existed";
}  // namespace

void UpdateEngine::sendImage(const Bytes& image) {
    Clock& clock = *platform_.clock;
    // The transfer belongs to the controller it erases: every frame goes to
    // that device record, and any detach or attach since the start (a replug
    // that is back before the next check included) ends the attempt, so
    // nothing after the erase reaches a controller that was not erased in it.
    const TransferTarget target{controllerIdentified() ? identifiedDevice_.get() : HIDDevicePtr{},
                                attachEpoch_.load()};
    const double t0 = clock.now();
    TransferEnd end = eraseStage(target);
    if (end == TransferEnd::done) {
        end = dataStage(image, target);
    }
    switch (end) {
        case TransferEnd::writeFailed:
            imageUpdateDone(Result<void>::failure(kDeviceGone));
            return;
        case TransferEnd::gone:
            updateSta.store(UpSta::failed);
            publish();
            return;
        case TransferEnd::done:
            break;
    }
    const double t1 = clock.now();
    logLine(shortestDecimal(t1) + " - " + shortestDecimal(t0) + " = " + shortestDecimal(t1 - t0) +
            " seconds");
    keepPendingRelease();
    imageUpdateDone(Result<void>::success());
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

UpdateEngine::TransferEnd UpdateEngine::eraseStage(const TransferTarget& target) {
    stage_.store(UpdateStage::erase);
    if (!stillAttached(target) ||
        !sendReportTo(target.device, Commands::imageEraseCommand(false), false)) {
        return TransferEnd::writeFailed;
    }
    logLine("erasing data...");
    if (!stillAttached(target)) {
        return TransferEnd::gone;
    }
    // A fixed wait: the controller does not say when the erase is over. The
    // time left is counted in the clock's one-second sleeps, so it stays true
    // on a clock that shortens them (the demo's) as on the real one.
    for (int k = 1; k <= kEraseSeconds; ++k) {
        setProgressLater(k);
        setProgressLineLater(eraseProgress(k - 1));
        platform_.clock->sleep(1.0);
        if (!stillAttached(target)) {
            return TransferEnd::gone;
        }
    }
    return TransferEnd::done;
}

UpdateEngine::TransferEnd UpdateEngine::dataStage(const Bytes& image,
                                                  const TransferTarget& target) {
    const auto send = [this, &target](const Bytes& frame) {
        return sendReportTo(target.device, frame, false);
    };
    stage_.store(UpdateStage::transfer);
    if (!send(Commands::imageTransferCommand(true))) {
        return TransferEnd::writeFailed;
    }
    logLine("begin image update");
    const std::size_t length = image.size();
    const std::size_t frames = length / kChunk;
    const std::size_t rest = length % kChunk;
    logLine("data size: " + std::to_string(length) + " = N_chunks(" + std::to_string(frames) +
            ") * " + std::to_string(kChunk) + " + final(" + std::to_string(rest) + "), ");
    // One frame buffer for the whole image: the loop allocates nothing per frame.
    Bytes frame;
    for (std::size_t i = 0; i < frames; ++i) {
        if (!stillAttached(target)) {
            return TransferEnd::gone;
        }
        setProgressLineLater(transferProgress(i, frames));
        if (i % kFramesPerPause == 0) {
            platform_.clock->sleep(1.0);
        }
        if (!Commands::buildImageDataFrame(image.data() + i * kChunk, kChunk, frame) ||
            !send(frame)) {
            return TransferEnd::writeFailed;
        }
        setProgressLater(progress::afterDataFrame(i, frames));
    }
    setProgressLater(progress::kDataEnd);
    setProgressLineLater(transferProgress(frames, frames));
    const std::optional<Bytes> last =
        Commands::imageDataFrame(image.data() + frames * kChunk, rest);
    // The short final frame and the end command count as sent whatever the
    // device answers, so a controller gone by now is caught here.
    if (!stillAttached(target) || !last || !send(*last) || !stillAttached(target) ||
        !send(Commands::imageTransferCommand(false))) {
        return TransferEnd::writeFailed;
    }
    logLine("end image update");
    return TransferEnd::done;
}

}  // namespace tarvo
