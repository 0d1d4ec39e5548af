#pragma once

#include <cstddef>
#include <functional>

#include "tcontroller/base/bytes.h"
#include "tcontroller/base/clock.h"
#include "tcontroller/base/result.h"

namespace tarvo {

// The protocol steps of an update on one controller: the identification
// requests, the erase with its fixed wait, the image in data frames, and the
// final step. Plain C++: the frames go out through a port the caller wires to
// the device, so the steps are tested without a bus.
class ControllerLink {
  public:
    struct Port {
        // Writes one frame to the controller; false when the write failed.
        // `expectReply` marks a request whose answer comes back as a report.
        std::function<bool(const Bytes& frame, bool expectReply)> write;
        // Whether the controller the link was made for is still the one
        // attached (no detach or attach since).
        std::function<bool()> attached;
    };
    // The stage a progress report is about: second i of the n-second erase
    // wait, or data frame i of n (i == n: the image's data is all sent).
    enum class Stage { erase, data };
    using Progress = std::function<void(Stage stage, std::size_t i, std::size_t n)>;

    // The cause of a failed step: a frame could not be written, or the
    // controller left (or was replaced) during the step.
    static constexpr const char* kWriteFailed = "hid device is not existed";
    static constexpr const char* kDetached = "the controller was detached";

    // The erase wait in seconds: the controller does not say when it is done.
    static constexpr std::size_t kEraseSeconds = 35;
    // A one-second pause before every this-many-th data frame.
    static constexpr std::size_t kFramesPerPause = 10000;

    ControllerLink(Port port, Clock& clock) : port_(std::move(port)), clock_(clock) {}

    // Asks for the model code, and for the firmware version once the model answered.
    Result<void> requestModel();
    Result<void> requestFirmwareVersion();
    // Erases the image area and waits out the erase, reporting each second.
    Result<void> erase(const Progress& progress);
    // Sends `image` in data frames between the transfer's begin and end
    // commands, reporting each frame.
    Result<void> sendImage(const Bytes& image, const Progress& progress);
    // Sends the controller to its bootloader drive.
    Result<void> finalStep();

  private:
    Result<void> send(const Bytes& frame, bool expectReply = false);

    Port port_;
    Clock& clock_;
};

}  // namespace tarvo
