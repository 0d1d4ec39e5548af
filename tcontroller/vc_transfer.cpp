// The image transfer: erase, the fixed erase wait, then the image in 54-byte
// data frames, one output report each. Runs on queue1.
#include "tcontroller/base/log.h"
#include "tcontroller/device/commands.h"
#include "tcontroller/device/frame.h"
#include "tcontroller/text_format.h"
#include "tcontroller/view_controller.h"

namespace tarvo {
namespace {
constexpr std::size_t kChunk = frame::kChunkSize;
constexpr int kEraseSeconds = 35;
constexpr std::size_t kFramesPerPause = 10000;
const char* const kDeviceGone = "hid device is not existed";
}  // namespace

void ViewController::sendImage(const Bytes& image) {
    Clock& clock = *platform_.clock;
    // The transfer belongs to the controller it erases: every frame goes to
    // that device record, and any detach or attach since the start (a replug
    // that is back before the next check included) ends the attempt, so
    // nothing after the erase reaches a controller that was not erased in it.
    const unsigned epoch = attachEpoch_.load();
    const HIDDevicePtr device = controllerIdentified() ? identifiedDevice_.get() : HIDDevicePtr{};
    const auto attached = [this, epoch, &device] {
        return device && attachEpoch_.load() == epoch && hidDeviceInfo.get() == device;
    };
    const auto send = [this, &device](const Bytes& frame) {
        return sendReportTo(device, frame, false);
    };
    const auto gone = [this] {
        updateSta.store(UpSta::failed);
        refreshUI();
    };
    const double t0 = clock.now();

    if (!attached() || !send(Commands::imageEraseCommand(false))) {
        imageUpdateDone(-1, kDeviceGone);
        return;
    }
    logLine("erasing data...");
    if (!attached()) {
        gone();
        return;
    }
    for (int k = 1; k <= kEraseSeconds; ++k) {
        setProgressLater(k);
        clock.sleep(1.0);
        if (!attached()) {
            gone();
            return;
        }
    }

    if (!send(Commands::imageTransferCommand(true))) {
        imageUpdateDone(-1, kDeviceGone);
        return;
    }
    logLine("begin image update");
    const std::size_t length = image.size();
    const std::size_t frames = length / kChunk;
    const std::size_t rest = length % kChunk;
    logLine("data size: " + std::to_string(length) + " = N_chunks(" + std::to_string(frames) +
            ") * " + std::to_string(kChunk) + " + final(" + std::to_string(rest) + "), ");

    for (std::size_t i = 0; i < frames; ++i) {
        if (!attached()) {
            gone();
            return;
        }
        if (i % kFramesPerPause == 0) {
            clock.sleep(1.0);
        }
        const std::optional<Bytes> frame =
            Commands::imageDataFrame(image.data() + i * kChunk, kChunk);
        if (!frame || !send(*frame)) {
            imageUpdateDone(-1, kDeviceGone);
            return;
        }
        setProgressLater(static_cast<double>(i) * (60.0 / static_cast<double>(frames + 1)) + 35.0);
    }

    setProgressLater(95);
    const std::optional<Bytes> last =
        Commands::imageDataFrame(image.data() + frames * kChunk, rest);
    // The short final frame and the end command count as sent whatever the
    // device answers, so a controller gone by now is caught here.
    if (!attached() || !last || !send(*last)) {
        imageUpdateDone(-1, kDeviceGone);
        return;
    }
    if (!attached() || !send(Commands::imageTransferCommand(false))) {
        imageUpdateDone(-1, kDeviceGone);
        return;
    }
    logLine("end image update");
    const double t1 = clock.now();
    logLine(shortestDecimal(t1) + " - " + shortestDecimal(t0) + " = " + shortestDecimal(t1 - t0) +
            " seconds");
    imageUpdateDone(0, "done");
}

}  // namespace tarvo
