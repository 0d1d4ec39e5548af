// Start-up against doubles: every service is wired and the window first shows
// the state with no controller.
#include <gtest/gtest.h>
#include <QLabel>
#include <QPushButton>

#include "sim/clocks.h"
#include "sim/simulated_platform.h"
#include "support/test_support.h"
#include "tcontroller/base/util.h"
#include "tcontroller/ui/image_button.h"
#include "tcontroller/platform/linux/hidapi_monitor.h"
#include "tcontroller/ui/view_controller.h"

namespace tarvo {
namespace {

// A monitor that blocks in start() like a real one and records its filter.
class BlockingMonitor : public HidMonitor {
  public:
    void start() override {
        std::unique_lock<std::mutex> hold(mutex_);
        started_ = true;
        changed_.notify_all();
        changed_.wait(hold, [this] { return stopped_; });
    }
    void stop() override {
        std::lock_guard<std::mutex> hold(mutex_);
        stopped_ = true;
        changed_.notify_all();
    }
    bool waitStarted() {
        std::unique_lock<std::mutex> hold(mutex_);
        return changed_.wait_for(hold, std::chrono::seconds(60), [this] { return started_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool started_ = false;
    bool stopped_ = false;
};

struct StartupFixture {
    explicit StartupFixture(Reachability::Connection c, bool canStart = true) {
        platform.clock = &clock;
        platform.resourcesDir = TARVO_SOURCE_RESOURCES_DIR;
        platform.volumeWatcher = &volumes;
        platform.reachabilityFactory = [this, c, canStart]() -> std::unique_ptr<Reachability> {
            auto r = std::make_unique<sim::SimReachability>(c, canStart);
            reachability = r.get();
            return r;
        };
        platform.hidMonitorFactory = [this](const std::vector<HIDMonitorData>& filters,
                                            int reportSize) -> std::unique_ptr<HidMonitor> {
            this->filters = filters;
            this->reportSize = reportSize;
            auto m = std::make_unique<BlockingMonitor>();
            monitor = m.get();
            return m;
        };
    }
    sim::InstantClock clock;
    test::FakeVolumeWatcher volumes;
    Platform platform;
    sim::SimReachability* reachability = nullptr;
    BlockingMonitor* monitor = nullptr;
    std::vector<HIDMonitorData> filters;
    int reportSize = 0;
};

TEST(Startup, WiresTheServicesAndShowsTheIdleWindow) {
    test::LogCapture log;
    StartupFixture f(Reachability::Connection::none);
    ViewController vc(f.platform);
    ASSERT_EQ(f.filters.size(), 1u);
    EXPECT_EQ(f.filters[0].vendorId, 0xC251);
    EXPECT_EQ(f.filters[0].productId, 0x2201);
    EXPECT_EQ(f.reportSize, 64);
    EXPECT_EQ(vc.hid_FW.get(), "000");
    EXPECT_EQ(vc.hid_model.get(), "");

    vc.viewDidLoad();
    EXPECT_TRUE(f.monitor->waitStarted());
    EXPECT_EQ(vc.titleLabel->text().toStdString(), "Tarvo Remote Firmware Update - 2019-10-22");
    EXPECT_FALSE(vc.leftBut->isEnabled());
    EXPECT_FALSE(vc.rightBut->isEnabled());
    EXPECT_TRUE(vc.FailedOKBut->isHidden());
    // A report without a usable value changes nothing but stops the monitor.
    ASSERT_TRUE(test::waitUntil([&] { return f.reachability->stopped(); }));
    EXPECT_FALSE(vc.hasNetwork.load());
    EXPECT_FALSE(log.contains("could not start reachability notifier"));
}

TEST(Startup, GoesOnWhenTheReachabilityNotifierCannotStart) {
    test::LogCapture log;
    StartupFixture f(Reachability::Connection::wifi, /*canStart=*/false);
    ViewController vc(f.platform);
    vc.viewDidLoad();
    EXPECT_EQ(log.count("could not start reachability notifier"), 1);
    // The volume observers are still registered after the failure.
    vc.hid_FW.set("1.1");
    f.volumes.mount("/somewhere/else");
    EXPECT_FALSE(vc.usbMount.load());
    f.volumes.mount("/Volumes/CRP DISABLE");
    EXPECT_FALSE(vc.usbMount.load()) << "not a bootloader mount point of this platform";
}

TEST(Startup, ABootloaderVolumeMountedBeforeStartIsWritten) {
    test::LogCapture log;
    StartupFixture f(Reachability::Connection::none);
    f.platform.bootloaderMountPoints = {"/media/user/CRP DISABLE"};
    f.volumes.alreadyMounted = {"/media/user/CRP DISABLED", "/media/user/CRP DISABLE", "/boot"};
    ViewController vc(f.platform);
    vc.viewDidLoad();
    // Only the exact mount point counts, and it is handled like a new mount:
    // nothing was chosen, so the built-in release is taken.
    EXPECT_EQ(log.withPrefix("Mount: "),
              std::vector<std::string>{"Mount: /media/user/CRP DISABLE"});
    EXPECT_TRUE(vc.usbMount.load());
    EXPECT_EQ(vc.updateMode.load(), Util::UpMode::bIn);
    EXPECT_EQ(vc.selectedFW.get(), (Util::Histoty{"1.2", "2019-10-22"}));
}

// A HID monitor that cannot be made, whose loop ends by itself, or (the real
// monitor) that cannot watch for plug-ins leaves the tool running with the
// same message in the window and one log line, instead of a window that looks
// like "no controller" while plug-ins are never seen.
TEST(Startup, AHidMonitorThatCannotWatchTheBusIsToldInTheWindow) {
    enum class Failure { unmade, loopEnded, noHotplug };
    for (const Failure failure : {Failure::unmade, Failure::loopEnded, Failure::noHotplug}) {
        test::LogCapture log;
        StartupFixture f(Reachability::Connection::none);
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
            ASSERT_TRUE(f.monitor->waitStarted());
            f.monitor->stop();  // the loop returns without being asked to
        }
        ASSERT_TRUE(test::waitUntil([&] {
            return vc.msgLabel->text().startsWith("The tool cannot watch the USB bus");
        })) << vc.msgLabel->text().toStdString();
        EXPECT_EQ(log.withPrefix("cannot watch the USB bus: ").size(), 1u);
    }
}

TEST(Startup, UnavailableNetworkIsRecordedOnce) {
    test::LogCapture log;
    StartupFixture f(Reachability::Connection::unavailable);
    ViewController vc(f.platform);
    vc.onlineVers.set({Util::Histoty{"9.9", "x"}});
    vc.viewDidLoad();
    ASSERT_TRUE(test::waitUntil([&] { return log.contains("Network not reachable"); }));
    EXPECT_FALSE(vc.hasNetwork.load());
    EXPECT_TRUE(vc.onlineVers.get().empty());
    EXPECT_TRUE(f.reachability->stopped());
}

}  // namespace
}  // namespace tarvo
