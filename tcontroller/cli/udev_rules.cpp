#include "tcontroller/cli/udev_rules.h"

#include <fnmatch.h>

#include <algorithm>

#include "tcontroller/device/identity.h"

namespace tarvo {
namespace {

// One KEY{attr} OP "value" of a rule.
struct Pair {
    std::string_view key;
    std::string_view attr;
    std::string_view op;
    std::string value;
};

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

bool isKeyCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

// Reads an operator at `i`, moving past it; false when none is there.
bool readOperator(std::string_view rule, std::size_t& i, Pair& pair) {
    const std::string_view rest = rule.substr(i);
    if (rest.starts_with("==") || rest.starts_with("!=") || rest.starts_with("+=") ||
        rest.starts_with("-=") || rest.starts_with(":=")) {
        pair.op = rest.substr(0, 2);
        i += 2;
        return true;
    }
    if (rest.starts_with("=")) {
        pair.op = rest.substr(0, 1);
        ++i;
        return true;
    }
    return false;
}

// Reads a double-quoted value at `i` (\" stands for a quote), moving past it;
// false when it is not quoted or never closed.
bool readValue(std::string_view rule, std::size_t& i, Pair& pair) {
    if (i >= rule.size() || rule[i] != '"') {
        return false;
    }
    ++i;
    while (i < rule.size()) {
        if (rule[i] == '\\' && i + 1 < rule.size() && rule[i + 1] == '"') {
            pair.value += '"';
            i += 2;
        } else if (rule[i] == '"') {
            ++i;
            return true;
        } else {
            pair.value += rule[i++];
        }
    }
    return false;
}

// Reads KEY or KEY{attr} at `i`, moving past it; false when there is none.
bool readKey(std::string_view rule, std::size_t& i, Pair& pair) {
    const std::size_t start = i;
    while (i < rule.size() && isKeyCharacter(rule[i])) {
        ++i;
    }
    if (i == start) {
        return false;
    }
    pair.key = rule.substr(start, i - start);
    if (i < rule.size() && rule[i] == '{') {
        const std::size_t close = rule.find('}', i + 1);
        if (close == std::string_view::npos || close == i + 1) {
            return false;
        }
        pair.attr = rule.substr(i + 1, close - i - 1);
        i = close + 1;
    }
    return true;
}

// The pairs of a rule, or none when any part of it does not read as a pair
// (udev then drops the whole rule). A NUL byte is refused: udev reads lines as
// C strings, and a value cut at it would read as another.
std::optional<std::vector<Pair>> parseRule(std::string_view rule) {
    if (rule.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    std::vector<Pair> pairs;
    std::size_t i = 0;
    const auto skipBlanks = [&] {
        while (i < rule.size() && isBlank(rule[i])) {
            ++i;
        }
    };
    while (true) {
        while (i < rule.size() && (isBlank(rule[i]) || rule[i] == ',')) {
            ++i;
        }
        if (i == rule.size()) {
            break;
        }
        Pair pair;
        if (!readKey(rule, i, pair)) {
            return std::nullopt;
        }
        skipBlanks();
        if (!readOperator(rule, i, pair)) {
            return std::nullopt;
        }
        skipBlanks();
        if (!readValue(rule, i, pair) || (i < rule.size() && !isBlank(rule[i]) && rule[i] != ',')) {
            return std::nullopt;
        }
        pairs.push_back(std::move(pair));
    }
    if (pairs.empty()) {
        return std::nullopt;
    }
    return pairs;
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

// Whether any '|'-separated alternative of `pattern`, a shell glob, matches.
bool patternMatches(std::string_view pattern, const std::string& value, bool caseless) {
    std::size_t start = 0;
    while (true) {
        const std::size_t bar = pattern.find('|', start);
        const std::string_view alternative = pattern.substr(start, bar - start);
        const std::string glob = caseless ? lower(alternative) : std::string(alternative);
        if (::fnmatch(glob.c_str(), value.c_str(), 0) == 0) {
            return true;
        }
        if (bar == std::string_view::npos) {
            return false;
        }
        start = bar + 1;
    }
}

std::string hex4(std::uint16_t id) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out(4, '0');
    for (int i = 3; i >= 0; --i) {
        out[static_cast<std::size_t>(i)] = kDigits[id & 0xF];
        id = static_cast<std::uint16_t>(id >> 4);
    }
    return out;
}

// What a match key reads on the controller's hidraw node being added, and
// whether it is compared case-insensitively; none for keys not judged.
std::optional<std::pair<std::string, bool>> nodeValue(const Pair& pair) {
    if (pair.attr.empty()) {
        if (pair.key == "SUBSYSTEM") {
            return std::pair<std::string, bool>{"hidraw", false};
        }
        if (pair.key == "KERNEL") {
            return std::pair<std::string, bool>{"hidraw0", false};
        }
        if (pair.key == "ACTION") {
            return std::pair<std::string, bool>{"add", false};
        }
        return std::nullopt;
    }
    if (pair.key == "ATTRS" && pair.attr == "idVendor") {
        return std::pair<std::string, bool>{hex4(identity::kVendorId), true};
    }
    if (pair.key == "ATTRS" && pair.attr == "idProduct") {
        return std::pair<std::string, bool>{hex4(identity::kProductId), true};
    }
    return std::nullopt;
}

std::optional<std::uint32_t> parseHex(std::string_view text) {
    if (text.empty() || text.size() > 8) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (const char c : text) {
        std::uint32_t digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<std::uint32_t>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<std::uint32_t>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<std::uint32_t>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        value = value << 4 | digit;
    }
    return value;
}

}  // namespace

RuleAccess controllerRuleAccess(std::string_view rule) {
    const std::optional<std::vector<Pair>> pairs = parseRule(rule);
    if (!pairs) {
        return RuleAccess::none;
    }
    bool vendor = false;
    bool product = false;
    RuleAccess access = RuleAccess::none;
    for (const Pair& pair : *pairs) {
        if (pair.op == "==" || pair.op == "!=") {
            const auto value = nodeValue(pair);
            if (!value) {
                continue;
            }
            const bool equal = pair.op == "==";
            if (patternMatches(pair.value, value->first, value->second) != equal) {
                return RuleAccess::none;
            }
            vendor = vendor || (equal && pair.attr == "idVendor");
            product = product || (equal && pair.attr == "idProduct");
        } else if (pair.key == "TAG" && pair.attr.empty() && pair.op != "-=" &&
                   pair.value == "uaccess") {
            access = std::max(access, RuleAccess::seatTag);
        } else if ((pair.key == "MODE" || pair.key == "GROUP" || pair.key == "OWNER") &&
                   pair.attr.empty() && (pair.op == "=" || pair.op == ":=")) {
            access = RuleAccess::permissions;
        }
    }
    return vendor && product ? access : RuleAccess::none;
}

std::vector<std::string> rulesOfFile(std::string_view text) {
    std::vector<std::string> rules;
    std::string continued;
    bool continuing = false;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && isBlank(line.front())) {
            line.remove_prefix(1);
        }
        if (line.empty() || line.front() == '#') {
            continue;
        }
        if (line.back() == '\\') {
            line.remove_suffix(1);
            continued += line;
            continuing = true;
            continue;
        }
        continued += line;
        rules.push_back(std::move(continued));
        continued.clear();
        continuing = false;
    }
    // A file that ends in the middle of a continued rule still holds it.
    if (continuing && !continued.empty()) {
        rules.push_back(std::move(continued));
    }
    return rules;
}

RuleAccess controllerFileAccess(std::string_view text) {
    RuleAccess best = RuleAccess::none;
    for (const std::string& rule : rulesOfFile(text)) {
        best = std::max(best, controllerRuleAccess(rule));
    }
    return best;
}

std::optional<HidId> hidIdOfUevent(std::string_view uevent) {
    static constexpr std::string_view kKey = "HID_ID=";
    std::size_t start = 0;
    while (start < uevent.size()) {
        std::size_t end = uevent.find('\n', start);
        if (end == std::string_view::npos) {
            end = uevent.size();
        }
        const std::string_view line = uevent.substr(start, end - start);
        start = end + 1;
        if (!line.starts_with(kKey)) {
            continue;
        }
        const std::string_view ids = line.substr(kKey.size());
        const std::size_t first = ids.find(':');
        const std::size_t second =
            first == std::string_view::npos ? first : ids.find(':', first + 1);
        if (second == std::string_view::npos) {
            return std::nullopt;
        }
        const auto bus = parseHex(ids.substr(0, first));
        const auto vendor = parseHex(ids.substr(first + 1, second - first - 1));
        const auto product = parseHex(ids.substr(second + 1));
        if (!bus || !vendor || !product) {
            return std::nullopt;
        }
        return HidId{*bus, *vendor, *product};
    }
    return std::nullopt;
}

bool isControllerHid(const HidId& id) {
    constexpr std::uint32_t kUsbBus = 0x0003;
    return id.bus == kUsbBus && id.vendor == identity::kVendorId &&
           id.product == identity::kProductId;
}

}  // namespace tarvo
