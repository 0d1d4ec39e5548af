#pragma once

#include <QByteArray>
#include <QObject>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "sim/virtual_controller.h"
#include "tcontroller/base/bytes.h"
#include "tcontroller/base/guarded.h"
#include "tcontroller/platform/hid_monitor.h"

// Frames built by hand, byte by byte, independently of the tool's builders.
namespace frames {

inline tarvo::Bytes frame(std::uint8_t cmd, const tarvo::Bytes& payload, bool trailer = false) {
    tarvo::Bytes f;
    f.reserve(payload.size() + 8);
    for (std::uint8_t b : {std::uint8_t{0xA9}, static_cast<std::uint8_t>(payload.size() + 4),
                           std::uint8_t{0x01}, std::uint8_t{0x00}, cmd}) {
        f.push_back(b);
    }
    for (std::uint8_t b : payload) {
        f.push_back(b);
    }
    unsigned sum = 0;
    for (std::size_t i = 1; i < f.size(); ++i) {
        sum += f[i];
    }
    f.push_back(static_cast<std::uint8_t>((256 - sum % 256) % 256));
    f.push_back(0x5C);
    if (trailer) {
        f.push_back(0xFF);
    }
    return f;
}

inline tarvo::Bytes model() {
    return frame(0x9E, {});
}
inline tarvo::Bytes version() {
    return frame(0xA0, {0x00});
}
inline tarvo::Bytes erase() {
    return frame(0x98, {0x00});
}
inline tarvo::Bytes begin() {
    return frame(0x96, {0x00});
}
inline tarvo::Bytes end() {
    return frame(0x96, {0x01});
}
inline tarvo::Bytes finalStep() {
    return frame(0x9A, {});
}

inline tarvo::Bytes data(const std::uint8_t* chunk, std::size_t n) {
    tarvo::Bytes payload{static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n & 0xFF)};
    payload.insert(payload.end(), chunk, chunk + n);
    return frame(0x97, payload, true);
}

}  // namespace frames

// Polls `done` until it holds, without an event loop; false after 10 s
// (far longer than anything here takes: only a hang reaches it).
inline bool eventually(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// A notification as the tool would see it, with the thread it arrived on.
struct Event {
    enum Type { connected, disconnected, data } type;
    tarvo::HIDDevicePtr device;
    tarvo::Bytes bytes;
    std::thread::id thread;
};

// Every notification of a HID monitor, the virtual controller's or the real
// one's (direct connections, so no event loop is needed).
class HidEvents {
  public:
    explicit HidEvents(tarvo::HidMonitor& monitor) {
        using tarvo::HidMonitor;
        const auto on = [this, &monitor](auto signal, Event::Type type) {
            QObject::connect(
                &monitor, signal, &monitor,
                [this, type](const tarvo::HIDDevicePtr& device) {
                    record({type, device, {}, std::this_thread::get_id()});
                },
                Qt::DirectConnection);
        };
        on(&HidMonitor::HIDDeviceConnected, Event::connected);
        on(&HidMonitor::HIDDeviceDisconnected, Event::disconnected);
        QObject::connect(
            &monitor, &HidMonitor::HIDDeviceDataReceived, &monitor,
            [this](const tarvo::HIDDevicePtr& device, const QByteArray& data) {
                record({Event::data, device, tarvo::Bytes(data.begin(), data.end()),
                        std::this_thread::get_id()});
            },
            Qt::DirectConnection);
    }

    std::vector<Event> all() const { return events_.get(); }
    std::vector<Event> of(Event::Type type) const {
        std::vector<Event> out;
        for (auto& e : all()) {
            if (e.type == type) {
                out.push_back(e);
            }
        }
        return out;
    }
    tarvo::HIDDevicePtr lastConnected() const {
        auto connected = of(Event::connected);
        return connected.empty() ? nullptr : connected.back().device;
    }
    bool waitFor(Event::Type type, std::size_t count) const {
        return eventually([&] { return of(type).size() >= count; });
    }

  private:
    void record(Event e) {
        events_.mutate([&](auto& all) { all.push_back(std::move(e)); });
    }

    tarvo::Guarded<std::vector<Event>> events_;
};

// Runs a virtual controller's loop on a thread of its own and records every
// notification.
class ControllerRun {
  public:
    ~ControllerRun() {
        vc.stop();
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    void run() {
        thread_ = std::thread([this] { vc.start(); });
    }
    // Plugs the controller in and waits for its record.
    tarvo::HIDDevicePtr plugAndWait() {
        vc.plug();
        return vc.waitUntilConnected() ? events.lastConnected() : nullptr;
    }

    tarvo::sim::VirtualController vc;
    HidEvents events{vc};

  private:
    std::thread thread_;
};

inline tarvo::Result<void> send(const tarvo::HIDDevicePtr& device, const tarvo::Bytes& frame,
                                std::uint8_t reportId = 1, int reportType = 1) {
    return device->setReport(reportType, reportId, frame.data(), frame.size());
}
