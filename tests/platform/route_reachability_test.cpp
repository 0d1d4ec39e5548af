#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <QThread>
#include <fstream>

#include "support/temp_files.h"
#include "tcontroller/platform/linux/route_reachability.h"

namespace tarvo {
namespace {

using Connection = Reachability::Connection;

const std::string kV4Header = "Iface\tDestination\tGateway\tFlags\tRefCnt\tUse\tMetric\tMask\n";
const std::string kV4Default = "eth0\t00000000\t0100A8C0\t0003\t0\t0\t100\t00000000\n";
const std::string kV4DefaultDown = "eth0\t00000000\t0100A8C0\t0002\t0\t0\t100\t00000000\n";
const std::string kV4Link = "eth0\t0000A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\n";
const std::string kZero = "00000000000000000000000000000000";
// The kernel's own unreachable ::/0 on lo is always listed.
const std::string kV6Base =
    kZero + " 00 " + kZero + " 00 " + kZero + " ffffffff 00000001 00000000 00200200 lo\n";
const std::string kV6Default = kZero + " 00 " + kZero + " 00 fe800000000000000000000000000001" +
                               " 00000400 00000001 00000000 00450003 eth0\n";
const std::string kV6UpOnLo =
    kZero + " 00 " + kZero + " 00 " + kZero + " 00000400 00000001 00000000 00000001 lo\n";

class RouteReachabilityTest : public ::testing::Test {
  protected:
    void SetUp() override { setRoutes(kV4Default, kV6Base); }
    void setRoutes(const std::string& v4, const std::string& v6) {
        std::ofstream(v4File_) << kV4Header << v4;
        std::ofstream(v6File_) << v6;
    }
    // Counts reports; checks each arrives on the main thread; runs `onReport`.
    void watch(std::function<void(Reachability*)> onReport = {}) {
        QObject::connect(
            &monitor_, &Reachability::reachabilityChanged, &monitor_,
            [this, onReport](Reachability* from) {
                ++reports_;
                EXPECT_EQ(QThread::currentThread(), qApp->thread());
                if (onReport) {
                    onReport(from);
                }
            },
            Qt::DirectConnection);
    }
    // Bounded wait on the event loop for the count of reports to reach `n`.
    bool waitForReports(int n) {
        for (int i = 0; i < 500 && reports_ < n; ++i) {
            QTest::qWait(10);
        }
        QCoreApplication::sendPostedEvents();  // and let any extra report in
        return reports_ == n;
    }

    test::TempDir dir_;
    std::string v4File_ = dir_.path() / "route";
    std::string v6File_ = dir_.path() / "ipv6_route";
    RouteReachability monitor_{v4File_, v6File_};
    int reports_ = 0;
};

TEST_F(RouteReachabilityTest, ReportsTheRouteTableOnceAfterStart) {
    const struct {
        std::string v4, v6;
        Connection expected;
    } cases[] = {
        {kV4Link + kV4Default, kV6Base, Connection::wifi},
        {kV4Link, kV6Base, Connection::unavailable},
        {kV4DefaultDown, kV6Base, Connection::unavailable},
        {kV4Link, kV6Base + kV6Default, Connection::wifi},  // IPv6 only
        {kV4Link, kV6Base + kV6UpOnLo, Connection::unavailable},
        {"", "", Connection::unavailable},
    };
    watch();
    int expectedReports = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.v4 + c.v6);
        setRoutes(c.v4, c.v6);
        ASSERT_TRUE(monitor_.startNotifier().ok());
        EXPECT_TRUE(waitForReports(++expectedReports));
        EXPECT_EQ(monitor_.connection(), c.expected);
        monitor_.stopNotifier();
    }
    setRoutes(kV4Default, "");
    std::filesystem::remove(v6File_);  // a host without IPv6
    EXPECT_TRUE(monitor_.startNotifier().ok());
    EXPECT_TRUE(waitForReports(++expectedReports));
    EXPECT_EQ(monitor_.connection(), Connection::wifi);
}

TEST_F(RouteReachabilityTest, UnreadableIpv4TableCannotStart) {
    std::filesystem::remove(v4File_);
    watch();
    EXPECT_FALSE(monitor_.startNotifier().ok());
    EXPECT_TRUE(waitForReports(0));
    EXPECT_EQ(monitor_.connection(), Connection::none);
}

TEST_F(RouteReachabilityTest, NothingArrivesAfterStop) {
    // Stopped from the handler, as the updater does.
    watch([](Reachability* from) { from->stopNotifier(); });
    ASSERT_TRUE(monitor_.startNotifier().ok());
    monitor_.stopNotifier();  // before the queued first report ran: it is dropped
    EXPECT_TRUE(waitForReports(0));

    ASSERT_TRUE(monitor_.startNotifier().ok());  // only this run's report arrives
    EXPECT_TRUE(waitForReports(1));
}

}  // namespace
}  // namespace tarvo
