// Reads over HTTP against the loopback firmware server, including its faults.

#include <gtest/gtest.h>

#include <vector>

#include "sim/firmware_server.h"
#include "support/temp_files.h"
#include "tcontroller/platform/linux/curl_resource_reads.h"

namespace tarvo {
namespace {

using sim::FirmwareServer;
using sim::ServerFault;

constexpr char kHistory[] = "\"1.3:2020-01-15\",\"1.2:2019-10-22\"";

ReadLimits shortLimits() {
    ReadLimits limits;
    limits.connectTimeoutSeconds = 5;
    limits.slowSeconds = 2;
    return limits;
}

class ServerReads : public ::testing::Test {
  protected:
    void SetUp() override {
        server_.publish({{"1.3", "2020-01-15", std::nullopt, std::nullopt},
                         {"1.2", "2019-10-22", std::nullopt, std::nullopt}});
        ASSERT_TRUE(server_.start());
    }

    std::string url(const std::string& target) const { return server_.baseAddress() + target; }
    std::string historyUrl() const { return url(FirmwareServer::historyTarget()); }

    FirmwareServer server_;
    CurlResourceReads reads_{shortLimits()};
};

// Every fault that must turn into a failed read, never a partial or wrong body
// (the history query's text reads meet the same faults end to end). The
// limits end a stalled read after 2 s; a read that never ended would meet
// ctest's timeout.
TEST_F(ServerReads, FaultsFailTheRead) {
    const std::pair<ServerFault, std::string> cases[] = {
        {ServerFault::status404, "HTTP status 404"},
        {ServerFault::truncate, ""},  // any error text
        {ServerFault::stall, "transfer slower than 1024 bytes/s for 2 s"},
        // 64 MiB + 1 announced, over the default cap
        {ServerFault::oversized, "body larger than 67108864 bytes"},
        {ServerFault::refuse, ""},
    };
    for (const auto& [fault, error] : cases) {
        SCOPED_TRACE(static_cast<int>(fault));
        server_.setFault(fault);
        const auto bytes = reads_.readBytes(url(FirmwareServer::imagePath("1.3")));
        EXPECT_FALSE(bytes.ok());
        EXPECT_FALSE(bytes.error.empty());
        if (!error.empty()) {
            EXPECT_EQ(bytes.error, error);
        }
    }
    // The same address works again once the fault is gone, a refused port included.
    server_.setFault(ServerFault::none);
    EXPECT_EQ(reads_.readText(historyUrl()).value, kHistory);
}

// The server drips 16 bytes every 50 ms (about 320 bytes/s): under the
// minimum rate the limits give, the read fails (a stalled server: FaultsFailTheRead).
TEST_F(ServerReads, SlowDripFailsBelowTheMinimumRate) {
    server_.setFault(ServerFault::slowDrip);
    ReadLimits limits = shortLimits();
    limits.minBytesPerSecond = 1024;
    limits.slowSeconds = 1;
    server_.setHistoryBody(std::string(4000, 'x'));
    EXPECT_EQ(CurlResourceReads(limits).readText(historyUrl()).error,
              "transfer slower than 1024 bytes/s for 1 s");
}

// Up to five redirects are followed, only on the web: never to a local file,
// and a redirect reply without a Location is not a body.
TEST_F(ServerReads, RedirectsStayOnTheWebAndEndAfterFive) {
    // /hop1 -> /hop2 -> ... -> /hop6 -> the history query: /hop2 is five hops away.
    for (int i = 1; i <= 5; ++i) {
        server_.setRedirect("/hop" + std::to_string(i), "/hop" + std::to_string(i + 1));
    }
    server_.setRedirect("/hop6", FirmwareServer::historyTarget(), 301);
    EXPECT_EQ(reads_.readText(url("/hop2")).value, kHistory);

    test::TempDir dir;
    const auto secret = dir.write("secret.bin", bytesFromString("local secret"));
    server_.setRedirect("/to-file", test::fileAddress(secret));
    server_.setRedirect("/moved", "", 302);  // empty location: plain 302 reply
    for (const char* target : {"/hop1", "/to-file", "/moved"}) {
        const auto read = reads_.readBytes(url(target));
        EXPECT_FALSE(read.ok()) << target;
        EXPECT_FALSE(read.error.empty()) << target;
    }
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
            const auto expect = [&](const auto& read) {
                if (size <= kCap) {
                    ASSERT_TRUE(read.ok()) << read.error;
                    EXPECT_EQ(read.value->size(), kCap);
                } else {
                    EXPECT_EQ(read.error, "body larger than 1048576 bytes");
                }
            };
            expect(capped.readBytes(server.baseAddress() + "/any"));
            expect(perCall.readText(server.baseAddress() + "/any", kHistoryMaxBytes));
        }
    }
}

}  // namespace
}  // namespace tarvo
