#pragma once

#include <string>

namespace tarvo {

// One message to the desktop's notification area.
struct DesktopNotification {
    std::string summary;
    std::string body;
    bool failure = false;  // shown as urgent
};

// Tells the user, outside the window, that a long job ended. Called on the
// main thread; returns at once (delivery is not awaited).
class DesktopNotifier {
  public:
    virtual ~DesktopNotifier() = default;
    virtual void notify(const DesktopNotification& notification) = 0;
};

}  // namespace tarvo
