#pragma once

#include <QObject>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "tcontroller/platform/reachability.h"

class QSocketNotifier;

namespace tarvo {

// General internet reachability read from the kernel routing table: a default
// route means the internet may be reached. Changes are noticed through an
// rtnetlink socket watched by the main thread's event loop, so an idle monitor
// costs nothing.
//
// The object must live on the main thread, and startNotifier()/stopNotifier()
// are called there; notifications are posted (queued) to that thread.
class RouteReachability final : public Reachability {
    Q_OBJECT
  public:
    explicit RouteReachability(std::string ipv4RouteFile = "/proc/net/route",
                               std::string ipv6RouteFile = "/proc/net/ipv6_route",
                               QObject* parent = nullptr);
    ~RouteReachability() override;

    // Returns false when the IPv4 route table cannot be read. Otherwise posts
    // reachabilityChanged once with the current state and keeps watching.
    Result<void> startNotifier() override;
    // After this returns no notification arrives, not even one already queued.
    void stopNotifier() override;
    // The state of the last reading of the table; `none` before the first one.
    Connection connection() const override;
    // Reads the route files again; an unreadable table counts as no network.
    Connection connectionNow() const override;

    // Reads the table again and posts reachabilityChanged if the state differs
    // from the last reading. Runs on every routing message; does nothing while
    // stopped.
    void recheck();

  private:
    // The state the route files describe, or nothing when the IPv4 file cannot
    // be read.
    std::optional<Connection> readRoutes() const;
    void post();
    void openRouteSocket();
    void closeRouteSocket();
    void onRouteSocketReadable();

    const std::string ipv4RouteFile_;
    const std::string ipv6RouteFile_;
    std::atomic<Connection> connection_{Connection::none};
    std::atomic<bool> running_{false};
    // Bumped by every start and stop, so a post queued by an earlier run is dropped.
    std::atomic<std::uint64_t> generation_{0};
    int routeSocket_ = -1;
    QSocketNotifier* notifier_ = nullptr;  // child of this; null while not watching
};

}  // namespace tarvo
