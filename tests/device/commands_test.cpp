#include <gtest/gtest.h>

#include <numeric>

#include "tcontroller/device/commands.h"
#include "tcontroller/device/frame.h"
#include "tcontroller/device/hex_dump.h"

namespace tarvo {
namespace {

// Every short command frame, byte for byte, both senses of each one-byte payload.
TEST(Commands, ShortFramesByteForByte) {
    const std::pair<Bytes, Bytes> cases[] = {
        {Commands::modelRequest(), {0xA9, 0x04, 0x01, 0x00, 0x9E, 0x5D, 0x5C}},
        {Commands::finalStepCommand(), {0xA9, 0x04, 0x01, 0x00, 0x9A, 0x61, 0x5C}},
        {Commands::firmwareVersionRequest(true), {0xA9, 0x05, 0x01, 0x00, 0xA0, 0x00, 0x5A, 0x5C}},
        {Commands::firmwareVersionRequest(false), {0xA9, 0x05, 0x01, 0x00, 0xA0, 0x01, 0x59, 0x5C}},
        {Commands::imageEraseCommand(false), {0xA9, 0x05, 0x01, 0x00, 0x98, 0x00, 0x62, 0x5C}},
        {Commands::imageEraseCommand(true), {0xA9, 0x05, 0x01, 0x00, 0x98, 0x01, 0x61, 0x5C}},
        {Commands::imageTransferCommand(true), {0xA9, 0x05, 0x01, 0x00, 0x96, 0x00, 0x64, 0x5C}},
        {Commands::imageTransferCommand(false), {0xA9, 0x05, 0x01, 0x00, 0x96, 0x01, 0x63, 0x5C}},
    };
    for (const auto& [frame, expected] : cases) {
        EXPECT_EQ(frame, expected) << hexDump(frame);
    }
}

// Checks the layout of a data frame for `chunk`: header, chunk, checksum, end, trailer.
void expectDataFrame(const Bytes& chunk) {
    const auto n = chunk.size();
    const auto frame = Commands::imageDataFrame(chunk);
    ASSERT_TRUE(frame) << n;
    ASSERT_EQ(frame->size(), n + 10);
    const auto u8 = [](std::size_t v) { return static_cast<std::uint8_t>(v); };
    const Bytes header{0xA9, u8(n + 6), 0x01, 0x00, 0x97, u8(n >> 8), u8(n)};
    EXPECT_EQ(Bytes(frame->begin(), frame->begin() + 7), header);
    EXPECT_EQ(Bytes(frame->begin() + 7, frame->begin() + 7 + n), chunk);
    EXPECT_EQ(std::accumulate(frame->begin() + 1, frame->begin() + 8 + n, 0u) % 256, 0u) << n;
    EXPECT_EQ((*frame)[n + 8], 0x5C);
    EXPECT_EQ((*frame)[n + 9], 0xFF);
}

TEST(Commands, DataFrameLayoutForEveryAcceptedLength) {
    for (std::size_t n = 0; n <= frame::kMaxChunk; ++n) {
        Bytes chunk(n);
        std::iota(chunk.begin(), chunk.end(), static_cast<std::uint8_t>(n * 7));
        expectDataFrame(chunk);
    }
    Bytes full(frame::kChunkSize, 0xEE);
    EXPECT_EQ(Commands::imageDataFrame(full)->size(), frame::kReportSize);
}

// The transfer builds every frame into one buffer: whatever the buffer held
// before (a longer frame, a shorter one), it ends up as exactly the fresh frame,
// and a refused chunk leaves it as it was.
TEST(Commands, DataFrameIntoAReusedBuffer) {
    Bytes reused;
    for (const std::size_t n :
         {frame::kChunkSize, std::size_t{3}, frame::kMaxChunk, std::size_t{0}, frame::kChunkSize}) {
        Bytes chunk(n);
        std::iota(chunk.begin(), chunk.end(), static_cast<std::uint8_t>(n));
        ASSERT_TRUE(Commands::buildImageDataFrame(chunk.data(), n, reused)) << n;
        EXPECT_EQ(reused, *Commands::imageDataFrame(chunk)) << n;
    }
    const Bytes before = reused;
    const Bytes tooLong(frame::kMaxChunk + 1, 0x11);
    EXPECT_FALSE(Commands::buildImageDataFrame(tooLong.data(), tooLong.size(), reused));
    EXPECT_FALSE(Commands::buildImageDataFrame(nullptr, 3, reused));
    EXPECT_EQ(reused, before);
}

TEST(HexDump, FourBlanksThenUpperCaseBytes) {
    EXPECT_EQ(hexDump(Bytes{}), "    ");
    EXPECT_EQ(hexDump(nullptr, 5), "    ");
    EXPECT_EQ(hexDump(Bytes{0xA9, 0x04, 0x0F, 0xF0, 0x00, 0x5c}), "    A9 04 0F F0 00 5C ");
}

}  // namespace
}  // namespace tarvo
