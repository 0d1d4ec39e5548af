// Any bytes as a resolved sysfs path: a USB port read from it is a port name
// that stands in the path as a device directory with its interface directory
// right under it, the same port is read back from a path built around it, and
// directories without a colon added below do not change it. Any two paths
// (split at the first NUL byte, or in half) as a mount path and a bootloader
// mount point: a match is the point itself or the point followed by a number,
// and the point always matches itself and itself followed by "1".
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tcontroller/platform/bootloader_drive.h"
#include "tcontroller/platform/usb_port.h"

namespace {

void check(bool holds) {
    if (!holds) {
        std::abort();
    }
}

bool isDigits(std::string_view text) {
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

void checkPort(std::string_view input) {
    const std::string port = tarvo::usbPortOfSysfsPath(input);
    if (tarvo::isUsbPortName(input)) {
        // A port name: one dash between numbers with dots, no leading zero.
        const std::size_t dash = input.find('-');
        check(dash != std::string_view::npos &&
              input.find('-', dash + 1) == std::string_view::npos);
        check(input.front() != '0' && input.find(':') == std::string_view::npos &&
              input.find('/') == std::string_view::npos);
    }
    // Directories without a colon below the path never hold an interface.
    check(tarvo::usbPortOfSysfsPath(std::string(input) + "/host6/block/sdb") == port);
    if (input.find(':') == std::string_view::npos || port.empty()) {
        check(port.empty());
        return;
    }
    check(tarvo::isUsbPortName(port));
    // Repeated slashes separate components as one does.
    std::string collapsed;
    for (const char c : input) {
        if (c != '/' || collapsed.empty() || collapsed.back() != '/') {
            collapsed += c;
        }
    }
    check(collapsed.find(port + "/" + port + ":") != std::string::npos);
    const std::string built = "/sys/devices/pci0000:00/0000:00:14.0/usb1/" + port + "/" + port +
                              ":1.0/host6/target6:0:0/6:0:0:0/block/sdb";
    check(tarvo::usbPortOfSysfsPath(built) == port);
}

void checkMountPoint(std::string_view input) {
    const std::size_t cut = input.find('\0');
    const std::string_view path =
        input.substr(0, cut == std::string_view::npos ? input.size() / 2 : cut);
    const std::string_view point =
        input.substr(cut == std::string_view::npos ? input.size() / 2 : cut + 1);
    if (tarvo::isBootloaderMountPoint(path, point)) {
        check(!point.empty() && path.substr(0, point.size()) == point);
        const std::string_view number = path.substr(point.size());
        check(number.empty() || (number.front() != '0' && isDigits(number)));
    }
    if (!point.empty()) {
        const std::string own(point);
        check(tarvo::isBootloaderMountPoint(own, own));
        check(tarvo::isBootloaderMountPoint(own + "1", own));
        check(!tarvo::isBootloaderMountPoint(own + "0", own));
        check(!tarvo::isBootloaderMountPoint(own + "/1", own));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    checkPort(input);
    checkMountPoint(input);
    return 0;
}
