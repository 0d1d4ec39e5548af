#pragma once

#include <string>
#include <string_view>

// The USB port a device hangs on, as the kernel names it in sysfs: the bus
// number, a dash and the chain of hub ports from the root hub down, separated
// by dots ("1-1.2": bus 1, port 2 of the hub on port 1). The name stays the
// same for whatever is plugged into that socket, so it tells controllers
// apart across replugs and between their HID device and their bootloader
// drive. Pure text rules: no file is read here.
namespace tarvo {

// Whether `name` is a port name: "B-P" or "B-P.P...", every number decimal
// without a leading zero (port 0 is the root hub itself).
bool isUsbPortName(std::string_view name);

// The port of the device whose resolved sysfs path is `path`, e.g.
// ".../usb1/1-1/1-1.2/1-1.2:1.0/0003:C251:2201.0005" or
// ".../usb2/2-3/2-3:1.0/host6/target6:0:0/6:0:0:0/block/sdb/sdb1": the device
// component that the USB interface component ("1-1.2:1.0", the port, the
// configuration and the interface number) sits under. The interface nearest
// the end counts. Empty when the path holds no such pair (not a USB device).
std::string usbPortOfSysfsPath(std::string_view path);

}  // namespace tarvo
