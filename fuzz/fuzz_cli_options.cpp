// Any argument list (the input split at NUL bytes): the parser either gives
// options or a reason, never both and never neither; options it gives name at
// most one source of firmware (and no local files for every controller), and
// parsing them written back gives them again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tcontroller/cli/cli_options.h"

namespace {

std::vector<std::string> writeBack(const tarvo::CliOptions& o) {
    // In the order of CliOptions::Command.
    static const char* const kNames[] = {"status", "update", "releases", "doctor", "station"};
    std::vector<std::string> args{kNames[static_cast<int>(o.command)]};
    if (o.json) {
        args.emplace_back("--json");
    }
    if (o.yes) {
        args.emplace_back("--yes");
    }
    if (o.builtin) {
        args.emplace_back("--builtin");
    }
    if (!o.to.empty()) {
        args.insert(args.end(), {"--to", o.to});
    }
    if (!o.image.empty()) {
        args.insert(args.end(), {"--files", o.image, o.firmware});
    }
    if (o.all) {
        args.emplace_back("--all");
    }
    if (!o.report.empty()) {
        args.insert(args.end(), {"--report", o.report});
    }
    return args;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.emplace_back();
        } else {
            args.back().push_back(static_cast<char>(data[i]));
        }
    }
    const tarvo::CliParse parsed = tarvo::parseCliArguments(args);
    if (parsed.options.has_value() == !parsed.error.empty()) {
        std::abort();
    }
    if (!parsed.options) {
        return 0;
    }
    const tarvo::CliOptions& o = *parsed.options;
    if (static_cast<int>(o.builtin) + static_cast<int>(!o.to.empty()) +
            static_cast<int>(!o.image.empty()) >
        1) {
        std::abort();
    }
    if (o.image.empty() != o.firmware.empty() || (o.all && !o.image.empty())) {
        std::abort();
    }
    const tarvo::CliParse again = tarvo::parseCliArguments(writeBack(o));
    if (!again.options || again.options->command != o.command || again.options->to != o.to ||
        again.options->image != o.image || again.options->firmware != o.firmware ||
        again.options->json != o.json || again.options->yes != o.yes ||
        again.options->builtin != o.builtin || again.options->all != o.all ||
        again.options->report != o.report) {
        std::abort();
    }
    return 0;
}
