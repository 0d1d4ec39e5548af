// The USB port of a device, read from its place in sysfs.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_files.h"
#include "tcontroller/platform/linux/sysfs_usb_port.h"
#include "tcontroller/platform/usb_port.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

TEST(UsbPort, OfResolvedSysfsPaths) {
    const std::string pci = "/sys/devices/pci0000:00/0000:00:14.0/";
    const struct {
        std::string path;
        std::string port;
    } cases[] = {
        // hidraw behind a hub, and on a root port.
        {pci + "usb1/1-1/1-1.2/1-1.2:1.0/0003:C251:2201.0005", "1-1.2"},
        {pci + "usb3/3-4/3-4:1.0/0003:C251:2201.0001/hidraw/hidraw0", "3-4"},
        // Another interface and configuration of the same device.
        {pci + "usb1/1-1/1-1.2/1-1.2:2.1/0003:C251:2201.0006", "1-1.2"},
        // A partition of a USB drive two hubs down.
        {pci + "usb2/2-1/2-1.4/2-1.4.3/2-1.4.3:1.0/host6/target6:0:0/6:0:0:0/block/sdb/sdb1",
         "2-1.4.3"},
        // A USB bus behind a USB device: the interface nearest the device counts.
        {pci + "usb1/1-1/1-1:1.0/usb9/9-1/9-1:1.0/0003:C251:2201.0007", "9-1"},
        // Not on USB: a virtual HID device, an internal disk.
        {"/sys/devices/virtual/misc/uhid/0003:C251:2201.0001", ""},
        {pci + "ata1/host0/target0:0:0/0:0:0:0/block/sda/sda1", ""},
        // The root hub's own interface; an interface of another device; not
        // numbers as the kernel writes them.
        {pci + "usb1/1-0:1.0/usb1-port1", ""},
        {pci + "usb1/1-1/1-2:1.0/0003:C251:2201.0005", ""},
        {pci + "usb1/1-01/1-01:1.0/0003:C251:2201.0005", ""},
        {pci + "usb1/1-1/1-1:1/0003:C251:2201.0005", ""},
        {pci + "usb1/1-1./1-1.:1.0/0003:C251:2201.0005", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(usbPortOfSysfsPath(c.path), c.port) << c.path;
    }
}

// A sysfs tree as the kernel lays it out, with its links: a hidraw node's
// device link and a block device's class entry lead to their USB ports.
TEST(UsbPort, OfDeviceNodesThroughSysfsLinks) {
    test::TempDir sysfs;
    const fs::path root = sysfs.path();
    const fs::path usb = root / "devices/pci0000:00/0000:00:14.0/usb1";
    const fs::path hid = usb / "1-1/1-1.3/1-1.3:1.0/0003:C251:2201.0009";
    fs::create_directories(hid / "hidraw/hidraw4");
    fs::create_directories(root / "class/hidraw");
    fs::create_directory_symlink(hid / "hidraw/hidraw4", root / "class/hidraw/hidraw4");
    fs::create_directory_symlink("../..", hid / "hidraw/hidraw4/device");
    const fs::path disk = usb / "1-2/1-2:1.0/host7/target7:0:0/7:0:0:0/block/sdc";
    fs::create_directories(disk / "sdc1");
    fs::create_directories(root / "class/block");
    fs::create_directory_symlink(fs::relative(disk / "sdc1", root / "class/block"),
                                 root / "class/block/sdc1");

    EXPECT_EQ(usbPortOfHidrawNode("/dev/hidraw4", root), "1-1.3");
    EXPECT_EQ(usbPortOfBlockDevice("/dev/sdc1", root), "1-2");
    EXPECT_EQ(usbPortOfHidrawNode("/dev/hidraw5", root), "");
    EXPECT_EQ(usbPortOfBlockDevice("/dev/..", root), "");
}

}  // namespace
}  // namespace tarvo
