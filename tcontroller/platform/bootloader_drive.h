#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo {

// What can be read of a mounted drive: enough to tell the controller's
// bootloader drive from a USB stick that happens to carry its label.
struct VolumeFacts {
    // The bus the drive is attached through ("usb"), empty when unknown.
    std::string bus;
    // The file system's whole size in bytes.
    std::uint64_t totalBytes = 0;
    // The names in its top folder, "." and ".." left out.
    std::vector<std::string> entries;
};

// The controller's bootloader drive is small: its flash, well under this.
inline constexpr std::uint64_t kBootloaderDriveMaxBytes = 8u << 20;

// Why a drive labelled like the bootloader's is not taken for it.
enum class DriveMismatch {
    none,        // it looks like the controller's drive
    notUsb,      // it is not attached through USB (or the bus is unknown)
    tooLarge,    // larger than the controller's drive can be
    otherFiles,  // it holds something the bootloader never puts there
    unreadable,  // its size or contents could not be read
};

struct DriveVerdict {
    DriveMismatch mismatch = DriveMismatch::none;
    // tooLarge: the size in whole MiB, rounded up; otherFiles: the first
    // foreign name; unreadable: the system's answer. Empty otherwise.
    std::string detail;

    bool looksLikeBootloader() const { return mismatch == DriveMismatch::none; }
};

// True for a name the controller's drive may hold: its firmware files (FAT
// names compare without case) and the folders a desktop creates on any drive
// it mounts.
bool isBootloaderDriveEntry(std::string_view name);

// Whether `facts` describe the controller's bootloader drive: on USB, at most
// kBootloaderDriveMaxBytes, and nothing in it but isBootloaderDriveEntry names.
DriveVerdict checkBootloaderDrive(const VolumeFacts& facts);

// Whether a volume mounted at `path` is at the bootloader mount point
// `point`: the same path, or the same path with a number after it, as
// desktops name a second drive that carries the same label ("CRP DISABLE1"
// next to "CRP DISABLE"). The number has no leading zero; case counts.
bool isBootloaderMountPoint(std::string_view path, std::string_view point);

// The verdict in English, for the log: "it holds other files, such as \"a.txt\"".
std::string driveMismatchText(const DriveVerdict& verdict);

}  // namespace tarvo
