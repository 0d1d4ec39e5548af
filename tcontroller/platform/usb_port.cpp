#include "tcontroller/platform/usb_port.h"

#include <cstddef>

namespace tarvo {
namespace {

// A decimal number as sysfs writes it: no sign, no leading zero unless it is
// 0 itself (allowed only where `zeroAllowed`), at most three digits.
bool isNumber(std::string_view text, bool zeroAllowed) {
    constexpr std::size_t kMaxDigits = 3;
    if (text.empty() || text.size() > kMaxDigits) {
        return false;
    }
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    if (text.front() == '0') {
        return zeroAllowed && text.size() == 1;
    }
    return true;
}

// "C.I" after the colon of an interface component: configuration (from 1)
// and interface number (from 0).
bool isConfigAndInterface(std::string_view text) {
    const std::size_t dot = text.find('.');
    return dot != std::string_view::npos && isNumber(text.substr(0, dot), false) &&
           isNumber(text.substr(dot + 1), true);
}

}  // namespace

bool isUsbPortName(std::string_view name) {
    const std::size_t dash = name.find('-');
    if (dash == std::string_view::npos || !isNumber(name.substr(0, dash), false)) {
        return false;
    }
    std::string_view chain = name.substr(dash + 1);
    for (;;) {
        const std::size_t dot = chain.find('.');
        if (!isNumber(chain.substr(0, dot), false)) {
            return false;
        }
        if (dot == std::string_view::npos) {
            return true;
        }
        chain.remove_prefix(dot + 1);
    }
}

std::string usbPortOfSysfsPath(std::string_view path) {
    std::string_view found;
    std::string_view previous;
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view component = path.substr(0, slash);
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
        if (component.empty()) {
            continue;
        }
        // An interface directory lives in its device's directory: "1-1.2:1.0"
        // right under "1-1.2".
        const std::size_t colon = component.find(':');
        if (colon != std::string_view::npos && component.substr(0, colon) == previous &&
            isUsbPortName(previous) && isConfigAndInterface(component.substr(colon + 1))) {
            found = previous;
        }
        previous = component;
    }
    return std::string(found);
}

}  // namespace tarvo
