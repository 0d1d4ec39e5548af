#include "tcontroller/platform/linux/sysfs_usb_port.h"

#include <climits>
#include <cstdlib>
#include <memory>

#include "tcontroller/platform/usb_port.h"

namespace tarvo {
namespace {

// The last component of a device node's path; empty when it names no entry.
std::string nodeName(const std::string& node) {
    const std::string name = node.substr(node.rfind('/') + 1);
    return name == "." || name == ".." ? std::string() : name;
}

std::string portOfEntry(const std::string& entry) {
    const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(entry.c_str(), nullptr),
                                                               &std::free);
    return resolved ? usbPortOfSysfsPath(resolved.get()) : std::string();
}

}  // namespace

std::string usbPortOfHidrawNode(const std::string& node, const std::string& sysfsRoot) {
    const std::string name = nodeName(node);
    return name.empty() ? std::string()
                        : portOfEntry(sysfsRoot + "/class/hidraw/" + name + "/device");
}

std::string usbPortOfBlockDevice(const std::string& node, const std::string& sysfsRoot) {
    const std::string name = nodeName(node);
    return name.empty() ? std::string() : portOfEntry(sysfsRoot + "/class/block/" + name);
}

}  // namespace tarvo
