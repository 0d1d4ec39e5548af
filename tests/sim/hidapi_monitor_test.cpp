#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tcontroller/platform/linux/hidapi_monitor.h"

// No controller is attached to the machines the tests run on, so these cover
// the monitor's life cycle and the record's refusals; talking to a real device
// needs the hardware.

TEST(HidapiMonitor, StartsAndStopsWithoutADeviceAndReportsNothing) {
    auto monitor = tarvo::hidapiMonitorFactory()({{0xC251, 0x2201}}, 64);
    ASSERT_TRUE(monitor);
    std::atomic<int> notifications{0};
    auto count = [&](const tarvo::HIDDevicePtr&) { ++notifications; };
    QObject::connect(monitor.get(), &tarvo::HidMonitor::HIDDeviceConnected, monitor.get(), count,
                     Qt::DirectConnection);
    QObject::connect(monitor.get(), &tarvo::HidMonitor::HIDDeviceDisconnected, monitor.get(), count,
                     Qt::DirectConnection);
    QObject::connect(
        monitor.get(), &tarvo::HidMonitor::HIDDeviceDataReceived, monitor.get(),
        [&](const QByteArray&) { ++notifications; }, Qt::DirectConnection);
    std::atomic<bool> returned{false};
    std::thread loop([&] {
        monitor->start();
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(returned);  // start() blocks while monitoring
    monitor->stop();
    loop.join();
    monitor->start();  // a stopped monitor returns at once
    EXPECT_EQ(notifications, 0);
}

TEST(HidapiDevice, RefusesWritesWithoutAHandleOrOfAnotherType) {
    tarvo::HidapiDevice device("/dev/hidraw-none", nullptr);
    const std::uint8_t frame[] = {0xA9, 0x04, 0x01, 0x00, 0x9E, 0x5D, 0x5C};
    EXPECT_FALSE(device.setReport(tarvo::kHIDReportTypeOutput, 1, frame, sizeof frame).ok());
    EXPECT_FALSE(device.setReport(2, 1, frame, sizeof frame).ok());
    EXPECT_EQ(device.name(), "/dev/hidraw-none");
    device.detach();
    EXPECT_FALSE(device.setReport(tarvo::kHIDReportTypeOutput, 1, frame, sizeof frame).ok());
}
