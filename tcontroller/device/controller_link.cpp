#include "tcontroller/device/controller_link.h"

#include <string>

#include "tcontroller/base/log.h"
#include "tcontroller/device/commands.h"
#include "tcontroller/device/frame.h"

namespace tarvo {

Result<void> ControllerLink::send(const Bytes& frame, bool expectReply) {
    if (!port_.write(frame, expectReply)) {
        return Result<void>::failure(kWriteFailed);
    }
    return Result<void>::success();
}

Result<void> ControllerLink::requestModel() {
    return send(Commands::modelRequest(), true);
}

Result<void> ControllerLink::requestFirmwareVersion() {
    return send(Commands::firmwareVersionRequest(true), true);
}

Result<void> ControllerLink::finalStep() {
    return send(Commands::finalStepCommand());
}

Result<void> ControllerLink::erase(const Progress& progress) {
    if (!port_.attached()) {
        return Result<void>::failure(kWriteFailed);
    }
    if (Result<void> sent = send(Commands::imageEraseCommand(false)); !sent.ok()) {
        return sent;
    }
    logLine("erasing data...");
    if (!port_.attached()) {
        return Result<void>::failure(kDetached);
    }
    // The time left is counted in the clock's one-second sleeps, so it stays
    // true on a clock that shortens them as on the real one.
    for (std::size_t k = 0; k < kEraseSeconds; ++k) {
        progress(Stage::erase, k, kEraseSeconds);
        clock_.sleep(1.0);
        if (!port_.attached()) {
            return Result<void>::failure(kDetached);
        }
    }
    return Result<void>::success();
}

Result<void> ControllerLink::sendImage(const Bytes& image, const Progress& progress) {
    constexpr std::size_t kChunk = frame::kChunkSize;
    if (Result<void> sent = send(Commands::imageTransferCommand(true)); !sent.ok()) {
        return sent;
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
        if (!port_.attached()) {
            return Result<void>::failure(kDetached);
        }
        progress(Stage::data, i, frames);
        if (i % kFramesPerPause == 0) {
            clock_.sleep(1.0);
        }
        if (!Commands::buildImageDataFrame(image.data() + i * kChunk, kChunk, frame) ||
            !port_.write(frame, false)) {
            return Result<void>::failure(kWriteFailed);
        }
    }
    progress(Stage::data, frames, frames);
    const std::optional<Bytes> last =
        Commands::imageDataFrame(image.data() + frames * kChunk, rest);
    // The short final frame and the end command count as sent whatever the
    // device answers, so a controller gone by now is caught here.
    if (!port_.attached() || !last || !port_.write(*last, false) || !port_.attached() ||
        !port_.write(Commands::imageTransferCommand(false), false)) {
        return Result<void>::failure(kWriteFailed);
    }
    logLine("end image update");
    return Result<void>::success();
}

}  // namespace tarvo
