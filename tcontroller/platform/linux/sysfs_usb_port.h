#pragma once

#include <string>

// The USB port of a device node, read from sysfs: the node's sysfs entry is
// resolved to its place in the device tree and that path read by
// usbPortOfSysfsPath. Reads the file system; empty when the entry does not
// resolve or the device is not on USB.
namespace tarvo {

// A hidraw node ("/dev/hidraw3"): <sysfsRoot>/class/hidraw/hidraw3/device.
std::string usbPortOfHidrawNode(const std::string& node, const std::string& sysfsRoot = "/sys");

// A block device node, a whole disk or a partition ("/dev/sdb1"):
// <sysfsRoot>/class/block/sdb1.
std::string usbPortOfBlockDevice(const std::string& node, const std::string& sysfsRoot = "/sys");

}  // namespace tarvo
