#include "sim/demo/demo_options.h"

#include <cctype>
#include <charconv>

#include "sim/firmware_format.h"

namespace tarvo::demo {

const char* demoUsage() {
    return "usage: tarvo-remote-demo [options]\n"
           "\n"
           "Runs the Tarvo Remote firmware update tool against a simulated controller,\n"
           "a firmware server on 127.0.0.1 and a bootloader volume in a private folder.\n"
           "Standard output carries the tool's own log; the simulator writes to\n"
           "standard error.\n"
           "\n"
           "  --auto                    press through one update and exit: 0 installed and\n"
           "                            verified, 1 failed or not verified, 2 timed out,\n"
           "                            3 nothing to install (no update offered, or the\n"
           "                            controller refused: another model, no answer)\n"
           "  --fast                    the tool's waits (35 s erase, pauses, 10 s watchdog)\n"
           "                            run a hundred times faster\n"
           "  --controller-fw V         firmware the controller runs (default 1.1)\n"
           "  --controller-model C      model code the controller reports (default T)\n"
           "  --bootloader              the controller starts as its mounted bootloader volume\n"
           "  --publish V:DATE,...      releases on the server (default\n"
           "                            1.3:2020-01-15,1.2:2019-10-22)\n"
           "  --history-file FILE       serve FILE verbatim as the version history; files of\n"
           "                            any version asked for are generated\n"
           "  --offline                 no network: the built-in release is offered\n"
           "  --server-fault F          none|refuse|404|500|truncate|stall, switched on once\n"
           "                            the version history has arrived, so the release\n"
           "                            download is what fails\n"
           "  --history-delay SECONDS   the server answers the version history this late\n"
           "                            (a decimal; not scaled by --fast); --auto presses\n"
           "                            UPDATE TO NEWEST without waiting for it\n"
           "  --device-fault F          what the controller does wrong:\n"
           "                            none, unplug-in-erase, replug-in-erase,\n"
           "                            unplug-in-data, lose-final-step, volume-full,\n"
           "                            unmount-before-write, keep-old-version, no-answer\n"
           "  --screenshots DIR         a PNG of the window at each step: 01-idle, 02-confirm,\n"
           "                            03-erasing, 04-sending-image, 05-alert (if shown),\n"
           "                            06-update-complete, 07-done, 08-failed (if failed);\n"
           "                            earlier NN-*.png files in DIR are removed first\n"
           "  --timeout SECONDS         give up after this long with --auto (default 600)\n"
           "  --help                    this text\n";
}

std::optional<sim::ServerFault> parseServerFault(const std::string& name) {
    using sim::ServerFault;
    if (name == "none") {
        return ServerFault::none;
    }
    if (name == "refuse") {
        return ServerFault::refuse;
    }
    if (name == "404") {
        return ServerFault::status404;
    }
    if (name == "500") {
        return ServerFault::status500;
    }
    if (name == "truncate") {
        return ServerFault::truncate;
    }
    if (name == "stall") {
        return ServerFault::stall;
    }
    return std::nullopt;
}

namespace {

struct DeviceFaultInfo {
    sim::DeviceFault fault;
    const char* name;
    const char* effect;
};

static_assert(sim::VirtualController::kFaultDataFrame == 1000, "unplug-in-data's effect text");
constexpr DeviceFaultInfo kDeviceFaults[] = {
    {sim::DeviceFault::none, "none", "none"},
    {sim::DeviceFault::unplugInErase, "unplug-in-erase",
     "the controller leaves the bus when it takes the erase command"},
    {sim::DeviceFault::replugInErase, "replug-in-erase",
     "the controller leaves the bus when it takes the erase command and is back a few ms later"},
    {sim::DeviceFault::unplugInData, "unplug-in-data",
     "the controller leaves the bus at data frame 1000 of the image"},
    {sim::DeviceFault::loseFinalStep, "lose-final-step",
     "after the final step the bootloader volume appears only after a replug and another "
     "final step"},
    {sim::DeviceFault::volumeFull, "volume-full", "FW.bin does not fit on the bootloader volume"},
    {sim::DeviceFault::unmountBeforeWrite, "unmount-before-write",
     "the bootloader volume goes away right after it appeared"},
    {sim::DeviceFault::keepOldVersion, "keep-old-version",
     "the controller flashes FW.bin but goes on reporting its old version"},
    {sim::DeviceFault::noAnswer, "no-answer", "the controller never answers identification"},
};

const DeviceFaultInfo& infoOf(sim::DeviceFault fault) {
    for (const auto& info : kDeviceFaults) {
        if (info.fault == fault) {
            return info;
        }
    }
    return kDeviceFaults[0];
}

}  // namespace

std::optional<sim::DeviceFault> parseDeviceFault(const std::string& name) {
    for (const auto& info : kDeviceFaults) {
        if (name == info.name) {
            return info.fault;
        }
    }
    return std::nullopt;
}

const char* deviceFaultName(sim::DeviceFault fault) {
    return infoOf(fault).name;
}

const char* deviceFaultEffect(sim::DeviceFault fault) {
    return infoOf(fault).effect;
}

std::optional<std::vector<sim::PublishedRelease>> parseReleases(const std::string& text) {
    std::vector<sim::PublishedRelease> releases;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find(',', at);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string item = text.substr(at, end - at);
        const std::size_t colon = item.find(':');
        if (colon == std::string::npos || colon == 0 || colon + 1 == item.size()) {
            return std::nullopt;
        }
        const std::string ver = item.substr(0, colon);
        if (sim::versionCharsFor(ver).empty()) {
            return std::nullopt;
        }
        releases.push_back({ver, item.substr(colon + 1), std::nullopt, std::nullopt});
        at = end + 1;
    }
    return releases;
}

namespace {

bool parsePositive(const std::string& text, int* out) {
    int value = 0;
    const char* first = text.data();
    const char* last = first + text.size();
    const auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || ptr != last || value <= 0) {
        return false;
    }
    *out = value;
    return true;
}

// A decimal number of seconds from 0 to an hour.
bool parseSeconds(const std::string& text, double* out) {
    double value = 0;
    const char* first = text.data();
    const char* last = first + text.size();
    const auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::fixed);
    if (text.empty() || ec != std::errc() || ptr != last || !(value >= 0 && value <= 3600)) {
        return false;
    }
    *out = value;
    return true;
}

}  // namespace

ParseOutcome parseDemoOptions(const std::vector<std::string>& args, DemoOptions* options,
                              std::string* error) {
    const auto fail = [error](std::string message) {
        *error = std::move(message);
        return ParseOutcome::error;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (const std::size_t eq = name.find('=');
            name.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        // The value of an option that takes one.
        const auto value = [&](std::string* out) {
            if (inlineValue) {
                *out = *inlineValue;
                return true;
            }
            if (i + 1 >= args.size()) {
                return false;
            }
            *out = args[++i];
            return true;
        };
        const auto flag = [&](bool* out) {
            if (inlineValue) {
                return false;
            }
            *out = true;
            return true;
        };

        std::string text;
        if (name == "--help" || name == "-h") {
            return ParseOutcome::help;
        } else if (name == "--auto") {
            if (!flag(&options->autoRun)) {
                return fail("--auto takes no value");
            }
        } else if (name == "--fast") {
            if (!flag(&options->fast)) {
                return fail("--fast takes no value");
            }
        } else if (name == "--bootloader") {
            if (!flag(&options->bootloader)) {
                return fail("--bootloader takes no value");
            }
        } else if (name == "--offline") {
            if (!flag(&options->offline)) {
                return fail("--offline takes no value");
            }
        } else if (name == "--controller-fw") {
            if (!value(&text) || sim::versionCharsFor(text).size() != 3) {
                return fail("--controller-fw needs a version such as 1.1");
            }
            options->controllerFirmware = text;
        } else if (name == "--controller-model") {
            if (!value(&text) || text.size() != 1 ||
                std::isgraph(static_cast<unsigned char>(text[0])) == 0) {
                return fail("--controller-model needs one character, such as T");
            }
            options->controllerModel = text[0];
        } else if (name == "--publish") {
            if (!value(&text)) {
                return fail("--publish needs a list such as 1.3:2020-01-15,1.2:2019-10-22");
            }
            auto releases = parseReleases(text);
            if (!releases) {
                return fail("--publish: cannot read \"" + text +
                            "\"; expected V:DATE items separated by commas");
            }
            options->releases = std::move(*releases);
        } else if (name == "--history-file") {
            if (!value(&text) || text.empty()) {
                return fail("--history-file needs a file name");
            }
            options->historyFile = text;
        } else if (name == "--server-fault") {
            if (!value(&text)) {
                return fail("--server-fault needs one of none|refuse|404|500|truncate|stall");
            }
            const auto fault = parseServerFault(text);
            if (!fault) {
                return fail("--server-fault: unknown fault \"" + text +
                            "\" (none|refuse|404|500|truncate|stall)");
            }
            options->serverFault = *fault;
        } else if (name == "--device-fault") {
            const auto fault = value(&text) ? parseDeviceFault(text) : std::nullopt;
            if (!fault) {
                return fail(
                    "--device-fault needs one of none, unplug-in-erase, replug-in-erase, "
                    "unplug-in-data, lose-final-step, volume-full, unmount-before-write, "
                    "keep-old-version, no-answer");
            }
            options->deviceFault = *fault;
        } else if (name == "--history-delay") {
            if (!value(&text) || !parseSeconds(text, &options->historyDelaySeconds)) {
                return fail(
                    "--history-delay needs a number of seconds from 0 to 3600, such as 2.5");
            }
        } else if (name == "--screenshots") {
            if (!value(&text) || text.empty()) {
                return fail("--screenshots needs a folder");
            }
            options->screenshotsDir = text;
        } else if (name == "--timeout") {
            if (!value(&text) || !parsePositive(text, &options->timeoutSeconds)) {
                return fail("--timeout needs a whole number of seconds above 0");
            }
        } else {
            return fail("unknown option \"" + args[i] + "\"");
        }
    }
    if (options->historyDelaySeconds > 0 && options->serverFault != sim::ServerFault::none) {
        // The fault is switched on once the history has arrived, and with the
        // delay the release download may start before that.
        return fail("--server-fault cannot be combined with --history-delay");
    }
    return ParseOutcome::run;
}

}  // namespace tarvo::demo
