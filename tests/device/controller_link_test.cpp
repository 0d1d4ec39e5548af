// The protocol steps on a port that records what reaches it: the frames of an
// erase and an image in order, the progress reported, and how a lost or
// replaced controller ends a step.
#include "tcontroller/device/controller_link.h"

#include <gtest/gtest.h>

#include <vector>

#include "tcontroller/device/commands.h"
#include "tcontroller/device/frame.h"

namespace tarvo {
namespace {

// Counts the sleeps instead of sleeping.
class CountingClock final : public Clock {
  public:
    double now() override { return slept; }
    void sleep(double seconds) override { slept += seconds; }
    double slept = 0;
};

struct Recorder {
    std::vector<Bytes> frames;
    std::size_t failAt = SIZE_MAX;    // the write with this index fails
    std::size_t detachAt = SIZE_MAX;  // detached once this many frames are written
    std::size_t detachAtSleep = SIZE_MAX;
    CountingClock clock;

    ControllerLink link() {
        return ControllerLink({[this](const Bytes& frame, bool) {
                                   if (frames.size() == failAt) {
                                       return false;
                                   }
                                   frames.push_back(frame);
                                   return true;
                               },
                               [this] {
                                   return frames.size() < detachAt &&
                                          clock.slept < static_cast<double>(detachAtSleep);
                               }},
                              clock);
    }
};

Bytes imageOf(std::size_t size) {
    Bytes image(size);
    for (std::size_t i = 0; i < size; ++i) {
        image[i] = static_cast<std::uint8_t>(i * 7 + 1);
    }
    return image;
}

TEST(ControllerLink, EraseThenImageSendsEveryChunkInOrderBetweenBeginAndEnd) {
    Recorder port;
    ControllerLink link = port.link();
    std::vector<std::pair<ControllerLink::Stage, std::size_t>> reported;
    const auto progress = [&](ControllerLink::Stage stage, std::size_t i, std::size_t n) {
        reported.emplace_back(stage, i);
        EXPECT_EQ(n, stage == ControllerLink::Stage::erase ? ControllerLink::kEraseSeconds : 3u);
    };
    const Bytes image = imageOf(3 * frame::kChunkSize + 10);
    ASSERT_TRUE(link.erase(progress).ok());
    EXPECT_EQ(port.clock.slept, static_cast<double>(ControllerLink::kEraseSeconds));
    ASSERT_TRUE(link.sendImage(image, progress).ok());

    ASSERT_EQ(port.frames.size(), 1u + 1u + 3u + 1u + 1u);
    EXPECT_EQ(port.frames[0], Commands::imageEraseCommand(false));
    EXPECT_EQ(port.frames[1], Commands::imageTransferCommand(true));
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(port.frames[2 + i], *Commands::imageDataFrame(
                                          image.data() + i * frame::kChunkSize, frame::kChunkSize))
            << "chunk " << i;
    }
    EXPECT_EQ(port.frames[5], *Commands::imageDataFrame(image.data() + 3 * frame::kChunkSize, 10));
    EXPECT_EQ(port.frames[6], Commands::imageTransferCommand(false));
    // Every erase second, every data frame and the end of the data, in order.
    ASSERT_EQ(reported.size(), ControllerLink::kEraseSeconds + 4);
    EXPECT_EQ(reported.front().second, 0u);
    EXPECT_EQ(reported[ControllerLink::kEraseSeconds - 1].second,
              ControllerLink::kEraseSeconds - 1);
    EXPECT_EQ(reported.back(), std::make_pair(ControllerLink::Stage::data, std::size_t{3}));
}

TEST(ControllerLink, ALostOrReplacedControllerEndsTheStepWithItsCause) {
    const auto ignore = [](ControllerLink::Stage, std::size_t, std::size_t) {};
    {
        // A write that fails: the erase command itself.
        Recorder port;
        port.failAt = 0;
        const Result<void> erased = port.link().erase(ignore);
        EXPECT_EQ(erased.error, ControllerLink::kWriteFailed);
    }
    {
        // Unplugged during the erase wait: nothing more is written.
        Recorder port;
        port.detachAtSleep = 10;
        const Result<void> erased = port.link().erase(ignore);
        EXPECT_EQ(erased.error, ControllerLink::kDetached);
        EXPECT_EQ(port.frames.size(), 1u);
        EXPECT_EQ(port.clock.slept, 10.0);
    }
    {
        // Replaced in the middle of the data: no frame after the change.
        Recorder port;
        port.detachAt = 3;
        const Result<void> sent = port.link().sendImage(imageOf(5 * frame::kChunkSize), ignore);
        EXPECT_EQ(sent.error, ControllerLink::kDetached);
        EXPECT_EQ(port.frames.size(), 3u);
    }
    {
        // Gone before the end command: a failed write, never a success.
        Recorder port;
        port.detachAt = 4;
        const Result<void> sent = port.link().sendImage(imageOf(2 * frame::kChunkSize + 1), ignore);
        EXPECT_FALSE(sent.ok());
        EXPECT_EQ(port.frames.size(), 4u);
    }
}

}  // namespace
}  // namespace tarvo
