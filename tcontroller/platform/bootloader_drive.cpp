#include "tcontroller/platform/bootloader_drive.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace tarvo {
namespace {

bool equalNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

bool isBootloaderMountPoint(std::string_view path, std::string_view point) {
    if (point.empty() || path.size() < point.size() || path.substr(0, point.size()) != point) {
        return false;
    }
    const std::string_view number = path.substr(point.size());
    if (number.empty()) {
        return true;
    }
    return number.front() != '0' &&
           std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool isBootloaderDriveEntry(std::string_view name) {
    // A FAT volume shows a name in whatever case it was stored in.
    for (const std::string_view firmware : {"firmware.bin", "FW.bin"}) {
        if (equalNoCase(name, firmware)) {
            return true;
        }
    }
    // What desktops leave on every drive they mount: a trash folder per user
    // (".Trash-1000"), Windows' and macOS' index folders.
    constexpr std::array<std::string_view, 3> kDesktopFolders = {"System Volume Information",
                                                                 ".fseventsd", ".Spotlight-V100"};
    if (std::find(kDesktopFolders.begin(), kDesktopFolders.end(), name) != kDesktopFolders.end()) {
        return true;
    }
    constexpr std::string_view kTrash = ".Trash-";
    return name.size() > kTrash.size() && name.substr(0, kTrash.size()) == kTrash;
}

DriveVerdict checkBootloaderDrive(const VolumeFacts& facts) {
    if (facts.bus != "usb") {
        return {DriveMismatch::notUsb, {}};
    }
    if (facts.totalBytes > kBootloaderDriveMaxBytes) {
        constexpr std::uint64_t kMiB = 1u << 20;
        return {DriveMismatch::tooLarge, std::to_string((facts.totalBytes + kMiB - 1) / kMiB)};
    }
    // The first foreign name in sorted order, so the message does not depend
    // on the order the directory was read in.
    std::vector<std::string> foreign;
    std::copy_if(facts.entries.begin(), facts.entries.end(), std::back_inserter(foreign),
                 [](const std::string& name) { return !isBootloaderDriveEntry(name); });
    if (!foreign.empty()) {
        return {DriveMismatch::otherFiles, *std::min_element(foreign.begin(), foreign.end())};
    }
    return {};
}

std::string driveMismatchText(const DriveVerdict& verdict) {
    switch (verdict.mismatch) {
        case DriveMismatch::none:
            return {};
        case DriveMismatch::notUsb:
            return "it is not a USB drive";
        case DriveMismatch::tooLarge:
            return "it holds " + verdict.detail + " MiB; the controller's drive holds at most " +
                   std::to_string(kBootloaderDriveMaxBytes >> 20) + " MiB";
        case DriveMismatch::otherFiles:
            return "it holds other files, such as \"" + verdict.detail + "\"";
        case DriveMismatch::unreadable:
            return "its contents cannot be read: " + verdict.detail;
    }
    return {};
}

}  // namespace tarvo
