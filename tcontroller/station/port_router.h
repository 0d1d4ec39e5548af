#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tcontroller/station/port_services.h"

namespace tarvo {

// Hands each event of the station's one HID monitor to the monitor of its
// port's engine. A port seen for the first time is announced once, and its
// events are kept until its engine's monitor is bound. Thread-safe: events
// come on the monitor's thread, binds on the main thread.
class PortRouter {
  public:
    // `newPort` runs on the routing thread, once per port, with no lock held.
    explicit PortRouter(std::function<void(const std::string&)> newPort);

    void route(const std::string& port, station_ports::PortMonitor::Event event);
    // The monitor the port's engine made: the events kept so far go to it first.
    void bind(const std::string& port, station_ports::PortMonitor* monitor);
    void unbind(const std::string& port);
    // Every port seen (a failure of the one monitor is every port's).
    std::vector<std::string> ports() const;

  private:
    struct Inbox {
        std::mutex lock;
        station_ports::PortMonitor* monitor = nullptr;
        std::vector<station_ports::PortMonitor::Event> early;
    };
    std::shared_ptr<Inbox> inbox(const std::string& port, bool* created);

    std::function<void(const std::string&)> newPort_;
    mutable std::mutex lock_;
    std::map<std::string, std::shared_ptr<Inbox>> inboxes_;
};

}  // namespace tarvo
