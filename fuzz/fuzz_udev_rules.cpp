// Any bytes as a udev rules file: the rules read from it are single lines
// without comments, and a rule that opens the controller's node names both of
// its ids, stops doing so with a match that excludes the controller or its
// node added to it, and keeps doing so with an unrelated pair added. Any bytes
// as a uevent file: ids read from it read back the same once written out.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "tcontroller/cli/udev_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    for (const std::string& rule : tarvo::rulesOfFile(input)) {
        if (rule.empty() || rule.find('\n') != std::string::npos || rule.front() == '#' ||
            rule.front() == ' ' || rule.front() == '\t') {
            std::abort();
        }
        const tarvo::RuleAccess access = tarvo::controllerRuleAccess(rule);
        if (access == tarvo::RuleAccess::none) {
            continue;
        }
        if (rule.find("ATTRS{idVendor}") == std::string::npos ||
            rule.find("ATTRS{idProduct}") == std::string::npos) {
            std::abort();
        }
        if (tarvo::controllerRuleAccess(rule + R"(, ATTRS{idVendor}!="c251")") !=
                tarvo::RuleAccess::none ||
            tarvo::controllerRuleAccess(rule + R"(, SUBSYSTEM=="usb")") !=
                tarvo::RuleAccess::none ||
            tarvo::controllerFileAccess("#" + rule) != tarvo::RuleAccess::none) {
            std::abort();
        }
        if (tarvo::controllerRuleAccess(rule + R"(, ENV{ID_OTHER}="1")") != access) {
            std::abort();
        }
    }
    if (const std::optional<tarvo::HidId> id = tarvo::hidIdOfUevent(input)) {
        char line[64];
        std::snprintf(line, sizeof line, "HID_ID=%04X:%08X:%08X\n", id->bus, id->vendor,
                      id->product);
        const std::optional<tarvo::HidId> again = tarvo::hidIdOfUevent(line);
        if (!again || again->bus != id->bus || again->vendor != id->vendor ||
            again->product != id->product) {
            std::abort();
        }
    }
    return 0;
}
