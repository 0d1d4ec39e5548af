// The demo's command line: the tool's sub-command with its own options, apart
// from the options of the simulated world.
#include "sim/demo/command_arguments.h"

#include <algorithm>
#include <cstdio>

#include "sim/demo/demo_options.h"

namespace tarvo::demo {
namespace {

// Where the sub-command is among the arguments: the first that names one and
// is not the value of the option before it.
std::optional<std::size_t> commandPosition(const std::vector<std::string>& args) {
    static const std::vector<std::string> kFlags = {
        "--auto", "--fast", "--bootloader", "--offline", "--unpaced", "--lookalike-drive",
        "--json", "--yes",  "--builtin",    "--all"};
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (!isSubCommand(args[i])) {
            continue;
        }
        const bool valueOfOption =
            i > 0 && args[i - 1].rfind("--", 0) == 0 &&
            args[i - 1].find('=') == std::string::npos &&
            std::find(kFlags.begin(), kFlags.end(), args[i - 1]) == kFlags.end();
        if (!valueOfOption) {
            return i;
        }
    }
    return std::nullopt;
}

// A sub-command's own arguments (the command and the options the tool's
// command line takes) apart from the demo's (the simulated world's).
struct SplitArguments {
    std::vector<std::string> command;
    std::vector<std::string> demo;
};

SplitArguments splitArguments(const std::vector<std::string>& args) {
    SplitArguments out;
    out.command.push_back(args.front());
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--json" || arg == "--yes" || arg == "--builtin" || arg == "--all") {
            out.command.push_back(arg);
        } else if ((arg == "--to" || (arg == "--report" && args.front() == "station")) &&
                   i + 1 < args.size()) {
            // (The station's own report; the demo's --report is for the other commands.)
            out.command.insert(out.command.end(), {arg, args[i + 1]});
            ++i;
        } else if (arg == "--files" && i + 2 < args.size()) {
            out.command.insert(out.command.end(), {arg, args[i + 1], args[i + 2]});
            i += 2;
        } else {
            out.demo.push_back(arg);
        }
    }
    return out;
}

}  // namespace

std::optional<int> takeCommand(std::vector<std::string>& args, std::optional<CliOptions>* command) {
    const std::optional<std::size_t> at = commandPosition(args);
    if (!at) {
        return std::nullopt;
    }
    // The demo's own options may come first (a wrapper's --timeout, say).
    std::rotate(args.begin(), args.begin() + static_cast<std::ptrdiff_t>(*at),
                args.begin() + static_cast<std::ptrdiff_t>(*at) + 1);
    SplitArguments split = splitArguments(args);
    const CliParse parsed = parseCliArguments(split.command);
    if (!parsed.options) {
        std::fprintf(stderr, "tarvo-remote-demo: %s\n\n%s", parsed.error.c_str(),
                     cliUsage().c_str());
        return kExitUsage;
    }
    *command = parsed.options;
    args = std::move(split.demo);
    return std::nullopt;
}

}  // namespace tarvo::demo
