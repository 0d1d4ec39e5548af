#include "tcontroller/platform/linux/route_reachability.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/route.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QMetaObject>
#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <fstream>
#include <sstream>

namespace tarvo {

namespace {

// The IPv6 table writes the all-zero address as 32 hex digits.
constexpr const char* kIpv6Any = "00000000000000000000000000000000";

bool hasFlag(const std::string& hexFlags, unsigned long flag) {
    try {
        return (std::stoul(hexFlags, nullptr, 16) & flag) != 0;
    } catch (const std::exception&) {
        return false;
    }
}

// /proc/net/route: a header line, then
//   Iface Destination Gateway Flags RefCnt Use Metric Mask MTU Window IRTT
// with addresses and flags in hex.
bool hasIpv4DefaultRoute(std::istream& in) {
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string iface, destination, gateway, flags, refCnt, use, metric, mask;
        if (!(fields >> iface >> destination >> gateway >> flags >> refCnt >> use >> metric >>
              mask)) {
            continue;
        }
        if (destination == "00000000" && mask == "00000000" && hasFlag(flags, RTF_UP)) {
            return true;
        }
    }
    return false;
}

// /proc/net/ipv6_route, no header:
//   dest dest_prefixlen src src_prefixlen next_hop metric refcnt use flags iface
// The kernel always lists an unreachable ::/0 on "lo"; only a default route on
// a real device counts.
bool hasIpv6DefaultRoute(std::istream& in) {
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string destination, prefixLength, source, sourcePrefix, nextHop, metric, refCnt, use,
            flags, iface;
        if (!(fields >> destination >> prefixLength >> source >> sourcePrefix >> nextHop >>
              metric >> refCnt >> use >> flags >> iface)) {
            continue;
        }
        if (destination == kIpv6Any && prefixLength == "00" && iface != "lo" &&
            hasFlag(flags, RTF_UP)) {
            return true;
        }
    }
    return false;
}

}  // namespace

RouteReachability::RouteReachability(std::string ipv4RouteFile, std::string ipv6RouteFile,
                                     QObject* parent)
    : ipv4RouteFile_(std::move(ipv4RouteFile)), ipv6RouteFile_(std::move(ipv6RouteFile)) {
    setParent(parent);
}

RouteReachability::~RouteReachability() {
    closeRouteSocket();
}

std::optional<Reachability::Connection> RouteReachability::readRoutes() const {
    std::ifstream ipv4(ipv4RouteFile_);
    if (!ipv4) {
        return std::nullopt;
    }
    if (hasIpv4DefaultRoute(ipv4)) {
        return Connection::wifi;
    }
    // A host without IPv6 has no such file: that is simply no IPv6 route.
    std::ifstream ipv6(ipv6RouteFile_);
    if (ipv6 && hasIpv6DefaultRoute(ipv6)) {
        return Connection::wifi;
    }
    return Connection::unavailable;
}

Result<void> RouteReachability::startNotifier() {
    if (running_.load()) {
        return Result<void>::success();
    }
    const std::optional<Connection> state = readRoutes();
    if (!state) {
        return Result<void>::failure("cannot read the routing table");
    }
    // A desktop has no notion of a cellular link: any default route, wired,
    // wireless or a tunnel, counts as reachable and is reported as wifi.
    connection_.store(*state);
    ++generation_;
    running_.store(true);
    // Without the routing socket the first report still arrives; only later
    // changes go unnoticed, and the updater samples the network once anyway.
    openRouteSocket();
    post();
    return Result<void>::success();
}

void RouteReachability::stopNotifier() {
    running_.store(false);
    ++generation_;
    closeRouteSocket();
}

Reachability::Connection RouteReachability::connection() const {
    return connection_.load();
}

Reachability::Connection RouteReachability::connectionNow() const {
    return readRoutes().value_or(Connection::unavailable);
}

void RouteReachability::recheck() {
    if (!running_.load()) {
        return;
    }
    // An unreadable table after a good start reads as no network path.
    const Connection state = readRoutes().value_or(Connection::unavailable);
    if (connection_.exchange(state) != state) {
        post();
    }
}

void RouteReachability::post() {
    const std::uint64_t generation = generation_.load();
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            // A stop (or a stop and a new start) since this was queued drops it.
            if (running_.load() && generation_.load() == generation) {
                emit reachabilityChanged(this);
            }
        },
        Qt::QueuedConnection);
}

void RouteReachability::openRouteSocket() {
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (fd < 0) {
        return;
    }
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return;
    }
    routeSocket_ = fd;
    notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this,
            &RouteReachability::onRouteSocketReadable);
}

void RouteReachability::closeRouteSocket() {
    if (notifier_ != nullptr) {
        // stopNotifier() may run inside a handler of a notification that this
        // notifier's slot posted, so the notifier is disabled now and deleted later.
        notifier_->setEnabled(false);
        notifier_->disconnect(this);
        notifier_->deleteLater();
        notifier_ = nullptr;
    }
    if (routeSocket_ >= 0) {
        ::close(routeSocket_);
        routeSocket_ = -1;
    }
}

void RouteReachability::onRouteSocketReadable() {
    // The content of the messages does not matter: each one means the table
    // may have changed. Drain them all, then read the table once.
    std::array<char, 8192> buffer;
    for (;;) {
        const ssize_t n = ::recv(routeSocket_, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n > 0 || (n < 0 && (errno == EINTR || errno == ENOBUFS))) {
            continue;  // ENOBUFS: messages were lost; the re-read below covers them
        }
        break;
    }
    recheck();
}

}  // namespace tarvo
