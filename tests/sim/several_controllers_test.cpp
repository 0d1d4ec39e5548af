// Several virtual controllers on the simulated platform: one HID monitor
// reports them all, each with device records, a USB port and a bootloader
// volume of its own, and a fault strikes only the controller it was set on.
#include <gtest/gtest.h>

#include <QVariantMap>
#include <map>
#include <set>

#include "harness.h"
#include "sim/simulated_platform.h"
#include "tcontroller/platform/bootloader_drive.h"

namespace {

using tarvo::HIDDevicePtr;
using tarvo::sim::SimulatedPlatform;
using tarvo::sim::VirtualController;

// The platform's HID monitor, its loop on a thread of its own.
class MonitorLoop {
  public:
    explicit MonitorLoop(SimulatedPlatform& sim)
        : monitor(sim.platform().hidMonitorFactory({}, 64)) {
        events = std::make_unique<HidEvents>(*monitor);
        thread_ = std::thread([this] { monitor->start(); });
    }
    ~MonitorLoop() {
        monitor->stop();
        thread_.join();
    }
    MonitorLoop(const MonitorLoop&) = delete;
    MonitorLoop& operator=(const MonitorLoop&) = delete;

    std::unique_ptr<tarvo::HidMonitor> monitor;
    std::unique_ptr<HidEvents> events;

  private:
    std::thread thread_;
};

// The data events whose record is `device`, as their first reply byte
// after the header (the command they answer).
std::vector<std::uint8_t> answersOf(const HidEvents& events, const HIDDevicePtr& device) {
    std::vector<std::uint8_t> commands;
    for (const Event& e : events.of(Event::data)) {
        if (e.device == device && e.bytes.size() > 4) {
            commands.push_back(e.bytes[4]);
        }
    }
    return commands;
}

TEST(SeveralControllers, OneMonitorEachWithItsOwnRecordsPortsVolumesAndFaults) {
    std::vector<QVariantMap> mounts;  // outlives the platform's volume watcher
    SimulatedPlatform::Options options;
    options.controllers = 2;
    SimulatedPlatform sim(options);
    ASSERT_EQ(sim.controllerCount(), 2);
    EXPECT_EQ(&sim.controller(), &sim.controller(1));
    EXPECT_EQ(sim.bootloaderPath(1), sim.bootloaderPath());
    EXPECT_EQ(sim.bootloaderPath(2), sim.bootloaderPath() + "1");
    EXPECT_THROW(sim.controller(3), std::out_of_range);

    QObject::connect(
        &sim.volumeWatcher(), &tarvo::VolumeWatcher::didMount, &sim.volumeWatcher(),
        [&mounts](const QVariant& info) { mounts.push_back(info.toMap()); }, Qt::DirectConnection);
    ASSERT_TRUE(sim.volumeWatcher().start().ok());
    // Only controller 2 leaves the bus when it takes the erase command.
    sim.controller(2).setFaults(
        VirtualController::Faults::of(tarvo::sim::DeviceFault::unplugInErase));

    MonitorLoop loop(sim);
    sim.controller(1).plug();
    sim.controller(2).plug();
    // A controller attached before the monitor's start is reported again by it.
    std::map<std::string, HIDDevicePtr> byPort;
    std::set<std::string> names;
    ASSERT_TRUE(eventually([&] {
        for (const Event& e : loop.events->of(Event::connected)) {
            byPort[e.device->port()] = e.device;
            names.insert(e.device->name());
        }
        return byPort.size() == 2;
    }));
    const HIDDevicePtr first = byPort["1-1.1"];
    const HIDDevicePtr second = byPort["1-1.2"];
    ASSERT_TRUE(first && second);
    EXPECT_EQ(names.size(), 2u);

    // Each answer comes with the record of the controller that gives it.
    ASSERT_TRUE(send(first, frames::model()).ok());
    ASSERT_TRUE(send(second, frames::model()).ok());
    ASSERT_TRUE(send(second, frames::version()).ok());
    ASSERT_TRUE(loop.events->waitFor(Event::data, 3));
    EXPECT_EQ(answersOf(*loop.events, first), std::vector<std::uint8_t>{0x9E});
    EXPECT_EQ(answersOf(*loop.events, second), (std::vector<std::uint8_t>{0x9E, 0xA0}));

    // The erase: controller 2 is gone, controller 1 is not and still answers.
    ASSERT_TRUE(send(first, frames::erase()).ok());
    ASSERT_TRUE(send(second, frames::erase()).ok());
    ASSERT_TRUE(loop.events->waitFor(Event::disconnected, 1));
    ASSERT_TRUE(send(first, frames::version()).ok());
    ASSERT_TRUE(loop.events->waitFor(Event::data, 4));
    EXPECT_EQ(answersOf(*loop.events, first), (std::vector<std::uint8_t>{0x9E, 0xA0}));
    const auto gone = loop.events->of(Event::disconnected);
    ASSERT_EQ(gone.size(), 1u);
    EXPECT_EQ(gone[0].device, second);
    EXPECT_TRUE(sim.controller(1).isOnHid());
    EXPECT_FALSE(send(second, frames::version()).ok());

    // Controller 2 comes back as its bootloader: its own volume, on its port,
    // which the tool takes for a bootloader mount point.
    sim.controller(2).startInBootloader();
    ASSERT_TRUE(sim.controller(2).waitUntilBootloaderMounted());
    ASSERT_TRUE(sim.volumeWatcher().waitUntilDelivered(VirtualController::kWait));
    ASSERT_EQ(mounts.size(), 1u);
    EXPECT_EQ(mounts[0].value(tarvo::kVolumePathKey).toString().toStdString(),
              sim.bootloaderPath(2));
    EXPECT_EQ(mounts[0].value(tarvo::kVolumeUsbPortKey).toString(), "1-1.2");
    ASSERT_EQ(sim.platform().bootloaderMountPoints.size(), 1u);
    EXPECT_TRUE(tarvo::isBootloaderMountPoint(sim.bootloaderPath(2),
                                              sim.platform().bootloaderMountPoints[0]));
    EXPECT_TRUE(sim.fileSystem().isMountPoint(sim.bootloaderPath(2)));
    EXPECT_FALSE(sim.fileSystem().isMountPoint(sim.bootloaderPath(1)));
    sim.volumeWatcher().stop();
}

TEST(SeveralControllers, OnlyOneToEight) {
    for (const int count : {0, 9}) {
        SimulatedPlatform::Options options;
        options.controllers = count;
        EXPECT_THROW(SimulatedPlatform{options}, std::invalid_argument) << count;
    }
}

}  // namespace
