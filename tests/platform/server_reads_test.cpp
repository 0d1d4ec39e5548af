// Reads over HTTP against the loopback firmware server, including its faults.

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

#include "sim/firmware_server.h"
#include "support/temp_files.h"
#include "tcontroller/platform/linux/curl_resource_reads.h"

namespace tarvo {
namespace {

using sim::FirmwareServer;
using sim::PublishedRelease;
using sim::ServerFault;

constexpr char kHistory[] = "\"1.3:2020-01-15\",\"1.2:2019-10-22\"";

ReadLimits shortLimits() {
    ReadLimits limits;
    limits.connectTimeoutSeconds = 5;
    limits.slowSeconds = 2;
    return limits;
}

// Far longer than any of these reads takes (the limits above end a stalled
// one after 2 s), so only a read that would never end reaches it.
constexpr auto kReadDeadline = std::chrono::seconds(60);

class ServerReads : public ::testing::Test {
  protected:
    explicit ServerReads(FirmwareServer::Options options = {}) : server_(options) {}

    void SetUp() override {
        server_.publish({{"1.3", "2020-01-15", std::nullopt, std::nullopt},
                         {"1.2", "2019-10-22", test::patternBytes(5000), Bytes{}}});
        ASSERT_TRUE(server_.start());
    }

    std::string url(const std::string& target) const { return server_.baseAddress() + target; }
    // Runs `read` on a thread of its own. A read still going at kReadDeadline
    // (its limits no longer end it) fails the test, and stopping the server
    // ends it, so the test fails instead of hanging.
    template <typename Read>
    auto within(Read read) -> decltype(read()) {
        std::packaged_task<decltype(read())()> task(std::move(read));
        auto result = task.get_future();
        std::thread reader(std::move(task));
        if (result.wait_for(kReadDeadline) != std::future_status::ready) {
            ADD_FAILURE() << "the read did not end within " << kReadDeadline.count() << " s";
            server_.stop();
        }
        reader.join();
        return result.get();
    }
    std::string historyUrl() const { return url(FirmwareServer::historyTarget()); }

    FirmwareServer server_;
    CurlResourceReads reads_{shortLimits()};
};

TEST_F(ServerReads, ZeroLengthBodyIsAnEmptySuccess) {
    const auto firmware = reads_.readBytes(url(FirmwareServer::firmwarePath("1.2")));
    ASSERT_TRUE(firmware.ok()) << firmware.error;
    EXPECT_TRUE(firmware.value->empty());

    server_.setHistoryBody("");
    const auto history = reads_.readText(historyUrl());
    ASSERT_TRUE(history.ok()) << history.error;
    EXPECT_EQ(*history.value, "");

    server_.setHistoryBody(std::nullopt);
    EXPECT_EQ(reads_.readText(historyUrl()).value, kHistory);
}

TEST_F(ServerReads, UnknownResourcesAreNotFound) {
    for (const std::string& target :
         {FirmwareServer::firmwarePath("9.9"), FirmwareServer::imagePath("1.3%20"),
          std::string("/other"), std::string("/check_fota.php?action=history&p_type=T")}) {
        const auto read = reads_.readBytes(url(target));
        EXPECT_FALSE(read.ok()) << target;
        EXPECT_EQ(read.error, "HTTP status 404") << target;
    }
}

// Every fault that must turn into a failed read, never a partial or wrong body.
TEST_F(ServerReads, FaultsFailTheRead) {
    struct Case {
        ServerFault fault;
        std::string error;  // expected error text, or empty for "any"
    };
    const Case cases[] = {
        {ServerFault::status404, "HTTP status 404"},
        {ServerFault::status500, "HTTP status 500"},
        {ServerFault::truncate, ""},
        {ServerFault::stall, "transfer slower than 1024 bytes/s for 2 s"},
        {ServerFault::oversized, ""},  // 64 MiB + 1 announced, default 64 MiB cap
        {ServerFault::refuse, ""},
    };
    CurlResourceReads defaultCap([] {
        ReadLimits limits = shortLimits();
        limits.maxBytes = ReadLimits{}.maxBytes;
        return limits;
    }());
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.fault));
        server_.setFault(c.fault);
        const auto bytes =
            within([&] { return defaultCap.readBytes(url(FirmwareServer::imagePath("1.3"))); });
        EXPECT_FALSE(bytes.ok());
        EXPECT_FALSE(bytes.error.empty());
        if (!c.error.empty()) {
            EXPECT_EQ(bytes.error, c.error);
        }
        const auto text = within([&] { return defaultCap.readText(historyUrl()); });
        EXPECT_FALSE(text.ok());
        EXPECT_FALSE(text.error.empty());
    }
    // The same address works again once the fault is gone, a refused port included.
    server_.setFault(ServerFault::none);
    EXPECT_EQ(within([&] { return reads_.readText(historyUrl()); }).value, kHistory);
}

// The server drips 16 bytes every 50 ms (about 320 bytes/s).
TEST_F(ServerReads, SlowDripFailsOnlyBelowTheMinimumRate) {
    struct Case {
        long minBytesPerSecond;
        long slowSeconds;
        std::size_t bodySize;
        std::string error;  // empty: the whole body arrives
    };
    const Case cases[] = {
        {1, 2, 300, ""},
        {1024, 1, 4000, "transfer slower than 1024 bytes/s for 1 s"},
    };
    server_.setFault(ServerFault::slowDrip);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.minBytesPerSecond);
        ReadLimits limits = shortLimits();
        limits.minBytesPerSecond = c.minBytesPerSecond;
        limits.slowSeconds = c.slowSeconds;
        CurlResourceReads reads(limits);
        const std::string body(c.bodySize, 'x');
        server_.setHistoryBody(body);
        const auto read = reads.readText(historyUrl());
        if (c.error.empty()) {
            ASSERT_TRUE(read.ok()) << read.error;
            EXPECT_EQ(*read.value, body);
        } else {
            EXPECT_FALSE(read.ok());
            EXPECT_EQ(read.error, c.error);
        }
    }
}

TEST_F(ServerReads, RedirectsAreFollowedUpToFive) {
    // /hop1 -> /hop2 -> ... -> /hop6 -> the history query: /hop2 is five hops away.
    for (int i = 1; i <= 5; ++i) {
        server_.setRedirect("/hop" + std::to_string(i), "/hop" + std::to_string(i + 1));
    }
    server_.setRedirect("/hop6", FirmwareServer::historyTarget(), 301);

    const auto five = reads_.readText(url("/hop2"));
    ASSERT_TRUE(five.ok()) << five.error;
    EXPECT_EQ(*five.value, kHistory);

    const auto six = reads_.readText(url("/hop1"));
    EXPECT_FALSE(six.ok());
    EXPECT_FALSE(six.error.empty());
}

TEST_F(ServerReads, RedirectToALocalFileIsRefused) {
    test::TempDir dir;
    const auto secret = dir.write("secret.bin", bytesFromString("local secret"));
    server_.setRedirect("/to-file", test::fileAddress(secret));
    const auto read = reads_.readBytes(url("/to-file"));
    EXPECT_FALSE(read.ok());
    EXPECT_FALSE(read.error.empty());
    EXPECT_FALSE(read.value.has_value());
}

// A redirect reply that ends the chain (no Location) is not a body.
TEST_F(ServerReads, RedirectWithoutLocationFails) {
    server_.setRedirect("/moved", "", 302);  // empty location: plain 302 reply
    const auto read = reads_.readText(url("/moved"));
    EXPECT_FALSE(read.ok());
}

// The running count in the write callback stops bodies whose length is not
// announced; the boundary itself still fits. The cap is the reads' own or, for
// the history query, the one given with the call.
TEST(ServerReadsCap, UnannouncedBodyOverTheCapFails) {
    constexpr std::size_t kCap = kHistoryMaxBytes;
    ReadLimits limits = shortLimits();
    limits.maxBytes = kCap;
    CurlResourceReads capped(limits);
    CurlResourceReads uncapped(shortLimits());
    ResourceReads& perCall = uncapped;
    for (const bool announced : {false, true}) {
        for (const std::uint64_t size : {std::uint64_t{kCap}, std::uint64_t{kCap + 1}}) {
            SCOPED_TRACE(std::to_string(size) + (announced ? " announced" : " chunked"));
            FirmwareServer::Options options;
            options.oversizedBytes = size;
            options.announceOversizedLength = announced;
            FirmwareServer server(options);
            server.setFault(ServerFault::oversized);
            ASSERT_TRUE(server.start());
            const auto bytes = capped.readBytes(server.baseAddress() + "/any");
            const auto text = perCall.readText(server.baseAddress() + "/any", kHistoryMaxBytes);
            if (size <= kCap) {
                ASSERT_TRUE(bytes.ok()) << bytes.error;
                EXPECT_EQ(bytes.value->size(), kCap);
                ASSERT_TRUE(text.ok()) << text.error;
                EXPECT_EQ(text.value->size(), kCap);
            } else {
                EXPECT_FALSE(bytes.ok());
                EXPECT_EQ(bytes.error, "body larger than 1048576 bytes");
                EXPECT_FALSE(text.ok());
                EXPECT_EQ(text.error, "body larger than 1048576 bytes");
            }
        }
    }
}

// stop() must not wait for a client that a stalled reply keeps waiting.
TEST(ServerStop, StopEndsAStalledReply) {
    FirmwareServer server;
    server.setFault(ServerFault::stall);
    ASSERT_TRUE(server.start());
    CurlResourceReads reads;  // default 60 s idle limit: only stop() can end this read
    Result<std::string> result;
    std::thread reader([&] { result = reads.readText(server.baseAddress() + "/stalled"); });
    while (server.requestCount() == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    server.stop();
    reader.join();
    EXPECT_FALSE(result.ok());
    EXPECT_FALSE(server.isRunning());
}

}  // namespace
}  // namespace tarvo
