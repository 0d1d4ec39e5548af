// The station's one HID monitor, fanned out to one monitor per port.
#include "tcontroller/station/port_router.h"

namespace tarvo {

using station_ports::PortMonitor;

PortRouter::PortRouter(std::function<void(const std::string&)> newPort)
    : newPort_(std::move(newPort)) {}

std::shared_ptr<PortRouter::Inbox> PortRouter::inbox(const std::string& port, bool* created) {
    std::lock_guard<std::mutex> hold(lock_);
    auto& slot = inboxes_[port];
    *created = !slot;
    if (!slot) {
        slot = std::make_shared<Inbox>();
    }
    return slot;
}

void PortRouter::route(const std::string& port, PortMonitor::Event event) {
    bool created = false;
    const std::shared_ptr<Inbox> box = inbox(port, &created);
    if (created && newPort_) {
        newPort_(port);
    }
    std::lock_guard<std::mutex> hold(box->lock);
    if (box->monitor != nullptr) {
        box->monitor->deliver(std::move(event));
    } else {
        box->early.push_back(std::move(event));
    }
}

void PortRouter::bind(const std::string& port, PortMonitor* monitor) {
    bool created = false;
    const std::shared_ptr<Inbox> box = inbox(port, &created);
    std::lock_guard<std::mutex> hold(box->lock);
    for (PortMonitor::Event& event : box->early) {
        monitor->deliver(std::move(event));
    }
    box->early.clear();
    box->monitor = monitor;
}

void PortRouter::unbind(const std::string& port) {
    std::lock_guard<std::mutex> hold(lock_);
    if (const auto it = inboxes_.find(port); it != inboxes_.end()) {
        std::lock_guard<std::mutex> holdInbox(it->second->lock);
        it->second->monitor = nullptr;
    }
}

std::vector<std::string> PortRouter::ports() const {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<std::string> out;
    out.reserve(inboxes_.size());
    for (const auto& [port, box] : inboxes_) {
        out.push_back(port);
    }
    return out;
}

}  // namespace tarvo
