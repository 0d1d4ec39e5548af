// Start-up: every service is wired, the window first shows the state with no
// controller, and a service that fails is told once.
#include <gtest/gtest.h>
#include <QPushButton>

#include "sim/simulated_platform.h"
#include "support/test_support.h"
#include "support/window_parts.h"
#include "tcontroller/platform/linux/hidapi_monitor.h"
#include "tcontroller/ui/view_controller.h"

namespace tarvo {
namespace {

using Conn = Reachability::Connection;

// The simulated platform with a network report of the given kind (or a
// notifier that cannot start); the filter the engine asks the HID monitor for
// is recorded.
struct Start {
    explicit Start(Conn c, bool canStart = true) : platform(sim.platform()) {
        platform.reachabilityFactory = [this, c, canStart]() -> std::unique_ptr<Reachability> {
            auto r = std::make_unique<sim::SimReachability>(c, canStart);
            reachability = r.get();
            return r;
        };
        platform.hidMonitorFactory = [this, make = platform.hidMonitorFactory](
                                         const std::vector<HIDMonitorData>& asked, int size) {
            filters = asked;
            reportSize = size;
            return make(asked, size);
        };
    }
    test::LogCapture log;
    sim::SimulatedPlatform sim;
    Platform platform;
    sim::SimReachability* reachability = nullptr;
    std::vector<HIDMonitorData> filters;
    int reportSize = 0;
};

// Whatever the network report (none, unavailable, or a notifier that cannot
// start, which is logged), it is taken once, the start goes on to the
// volumes, and the window shows the state with no controller. A bootloader
// volume mounted before the start is handled like a new mount, only at the
// exact mount point (what is written to it: BuiltInRelease in e2e/update_test.cpp).
TEST(Startup, WiresTheServicesAndShowsTheIdleWindow) {
    const std::pair<Conn, std::string> cases[] = {
        {Conn::none, ""},
        {Conn::unavailable, "Network not reachable"},
        {Conn::wifi, "could not start reachability notifier"},  // cannot start
    };
    for (const auto& [network, said] : cases) {
        Start f(network, /*canStart=*/network != Conn::wifi);
        const std::string drive = f.sim.bootloaderPath();
        for (const std::string& mounted : {drive + "D", drive, std::string("/boot")}) {
            f.sim.volumeWatcher().announceMount(mounted);  // before the start
        }
        ViewController vc(f.platform);
        ASSERT_EQ(f.filters.size(), 1u);
        EXPECT_EQ(std::tuple(f.filters[0].vendorId, f.filters[0].productId, f.reportSize),
                  std::tuple(0xC251, 0x2201, 64));
        vc.viewDidLoad();
        EXPECT_EQ(test::text(vc, "titleLabel"), "Tarvo Remote Firmware Update - 2019-10-22");
        EXPECT_EQ(f.log.withPrefix("Mount: "), std::vector<std::string>{"Mount: " + drive});
        ASSERT_TRUE(test::waitUntil([&] { return !vc.engine().awaitingHistory(); }));
        EXPECT_FALSE(vc.engine().snapshot().hasNetwork);
        EXPECT_EQ(f.reachability->stopped(), network != Conn::wifi);
        for (const char* line :
             {"Network not reachable", "could not start reachability notifier"}) {
            EXPECT_EQ(f.log.count(line), said == line ? 1 : 0) << line;
        }
    }
}

// A HID monitor that cannot be made, whose loop ends by itself, or (the real
// monitor) that cannot watch for plug-ins leaves the tool running with the
// same message in the window and one log line, instead of a window that looks
// like "no controller" while plug-ins are never seen.
TEST(Startup, AHidMonitorThatCannotWatchTheBusIsToldInTheWindow) {
    enum class Failure { unmade, loopEnded, noHotplug };
    for (const Failure failure : {Failure::unmade, Failure::loopEnded, Failure::noHotplug}) {
        Start f(Conn::none);
        if (failure == Failure::unmade) {
            f.platform.hidMonitorFactory = [](const std::vector<HIDMonitorData>&,
                                              int) -> std::unique_ptr<HidMonitor> {
                return nullptr;
            };
        } else if (failure == Failure::noHotplug) {
            f.platform.hidMonitorFactory =
                hidapiMonitorFactory([](udev*) -> udev_monitor* { return nullptr; });
        }
        ViewController vc(f.platform);
        vc.viewDidLoad();
        if (failure == Failure::loopEnded) {
            f.sim.controller().stop();  // the loop returns without being asked to
        }
        ASSERT_TRUE(test::waitUntil([&] {
            return test::text(vc, "msgLabel").starts_with("The tool cannot watch the USB bus");
        })) << test::text(vc, "msgLabel");
        EXPECT_EQ(f.log.withPrefix("cannot watch the USB bus: ").size(), 1u);
    }
}

}  // namespace
}  // namespace tarvo
