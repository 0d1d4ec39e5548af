#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "sim/firmware_server.h"

using tarvo::sim::FirmwareServer;

TEST(FirmwareServer, AHeldBackHistoryDelaysNeitherFilesNorStop) {
    FirmwareServer server;
    server.publish({{"1.3", "2020-01-15", std::nullopt, std::nullopt}});
    server.setHistoryDelay(std::chrono::hours(1));
    ASSERT_TRUE(server.start());
    std::atomic<bool> answered{false};
    int historyStatus = 0;
    std::thread history([&] {
        httplib::Client client("127.0.0.1", server.port());
        client.set_read_timeout(7200, 0);
        const auto result = client.Get(FirmwareServer::historyTarget());
        historyStatus = result ? result->status : -1;
        answered = true;
    });
    while (server.requestCount() == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // The history request is in and held back; a file is served all the same.
    httplib::Client client("127.0.0.1", server.port());
    const auto file = client.Get(FirmwareServer::firmwarePath("1.3"));
    EXPECT_TRUE(file && file->status == 200);
    EXPECT_FALSE(answered.load());
    // Stopping ends the wait, and the releases are never sent.
    server.stop();
    history.join();
    EXPECT_NE(historyStatus, 200);
}
