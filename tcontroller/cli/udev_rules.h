#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// How udev rules and sysfs describe the controller's hidraw node, read the way
// udev reads them. Plain C++, no Qt: `doctor` reads the machine's files with
// it, and the rule matcher is fuzzed.
namespace tarvo {

// The rule the package installs (resources/70-tarvo-remote.rules): the
// controller's hidraw node is tagged for the user at the seat. The file's
// number keeps it before the seat rules that apply the tag.
inline constexpr std::string_view kControllerRuleFileName = "70-tarvo-remote.rules";
inline constexpr std::string_view kControllerRule =
    R"(KERNEL=="hidraw*", SUBSYSTEM=="hidraw", ATTRS{idVendor}=="c251", )"
    R"(ATTRS{idProduct}=="2201", TAG+="uaccess")";
// The rules file that turns the "uaccess" tag into access for the seat's user;
// a tag set by a file sorted after it comes too late.
inline constexpr std::string_view kSeatRulesFileName = "73-seat-late.rules";

// How a rule opens the controller's hidraw node to a user.
enum class RuleAccess {
    none,         // it does not, or it does not apply to that node
    seatTag,      // TAG+="uaccess": the user at the seat, once the seat rules ran
    permissions,  // MODE, GROUP or OWNER (taken at their word: whom they admit is not judged)
};

// What one rule (a logical line: no comment, continuation lines joined) does
// for the controller's hidraw node. It counts only when it reads whole as udev
// reads a rule (KEY or KEY{attr}, an operator, a double-quoted value; pairs
// separated by commas or blanks), matches with "==" on both ATTRS{idVendor}
// and ATTRS{idProduct}, and each of its matches on SUBSYSTEM, KERNEL, ACTION,
// ATTRS{idVendor} and ATTRS{idProduct} holds, under its operator, for the
// controller's node being added ("hidraw", "hidraw0", "add", c251, 2201).
// Patterns may hold alternatives ('|') and shell globs; the ids are compared
// case-insensitively. Other matches are taken to hold.
RuleAccess controllerRuleAccess(std::string_view rule);

// The rules in a rules file's text, in order: every line's leading blanks
// skipped, blank and comment ('#') lines left out, and a line ending with a
// backslash joined (without it) with the next.
std::vector<std::string> rulesOfFile(std::string_view text);

// The most any rule of a file's text gives (permissions over the seat's tag).
RuleAccess controllerFileAccess(std::string_view text);

// A HID device's bus and ids.
struct HidId {
    std::uint32_t bus = 0;
    std::uint32_t vendor = 0;
    std::uint32_t product = 0;
};

// The ids in the HID_ID line of a HID device's uevent file in sysfs
// ("HID_ID=0003:0000C251:00002201": bus, vendor, product in hexadecimal, any
// case); none when no line starts with HID_ID= or the first such is malformed.
std::optional<HidId> hidIdOfUevent(std::string_view uevent);

// True for the controller on USB (bus 0003).
bool isControllerHid(const HidId& id);

}  // namespace tarvo
