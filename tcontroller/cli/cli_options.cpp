#include "tcontroller/cli/cli_options.h"

namespace tarvo {
namespace {

std::optional<CliOptions::Command> commandNamed(const std::string& name) {
    if (name == "status") {
        return CliOptions::Command::status;
    }
    if (name == "update") {
        return CliOptions::Command::update;
    }
    if (name == "releases") {
        return CliOptions::Command::releases;
    }
    if (name == "doctor") {
        return CliOptions::Command::doctor;
    }
    if (name == "station") {
        return CliOptions::Command::station;
    }
    return std::nullopt;
}

CliParse usageError(std::string why) {
    return CliParse{std::nullopt, std::move(why)};
}

}  // namespace

bool isSubCommand(const std::string& first) {
    return commandNamed(first).has_value();
}

CliParse parseCliArguments(const std::vector<std::string>& args) {
    if (args.empty()) {
        return usageError("no command given");
    }
    const std::optional<CliOptions::Command> command = commandNamed(args[0]);
    if (!command) {
        return usageError("unknown command \"" + args[0] + "\"");
    }
    CliOptions options;
    options.command = *command;
    const bool update = *command == CliOptions::Command::update;
    const bool station = *command == CliOptions::Command::station;
    int sources = 0;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const std::size_t left = args.size() - i - 1;
        if (arg == "--json") {
            options.json = true;
        } else if ((update || station) && arg == "--yes") {
            options.yes = true;
        } else if (update && arg == "--all") {
            options.all = true;
        } else if (station && arg == "--report") {
            if (left < 1 || args[i + 1].empty()) {
                return usageError("--report needs a file name");
            }
            options.report = args[++i];
        } else if (update && arg == "--builtin") {
            options.builtin = true;
            ++sources;
        } else if ((update || station) && arg == "--to") {
            if (left < 1 || args[i + 1].empty() || args[i + 1].rfind("--", 0) == 0) {
                return usageError("--to needs a version");
            }
            options.to = args[++i];
            ++sources;
        } else if (update && arg == "--files") {
            if (left < 2 || args[i + 1].empty() || args[i + 2].empty()) {
                return usageError("--files needs the image file and the firmware file");
            }
            options.image = args[++i];
            options.firmware = args[++i];
            ++sources;
        } else {
            return usageError("unknown option \"" + arg + "\" for " + args[0]);
        }
    }
    if (sources > 1) {
        return usageError("--to, --files and --builtin exclude each other");
    }
    if (options.all && !options.image.empty()) {
        return usageError("--all takes --to or --builtin, not --files");
    }
    return CliParse{options, {}};
}

std::string cliUsage() {
    return "Usage: tarvo-remote-update [COMMAND [OPTIONS]]\n"
           "Without a command the window opens.\n"
           "\n"
           "Commands (no display needed):\n"
           "  status [--json]      the attached controller, the newest release and whether\n"
           "                       an update is offered\n"
           "  releases [--json]    the published releases and the built-in one\n"
           "  update [--to VERSION | --files IMAGE FIRMWARE | --builtin] [--yes] [--json]\n"
           "                       installs the newest release (or the one named) after\n"
           "                       asking; --yes does not ask (needed without a terminal)\n"
           "  update --all [--to VERSION | --builtin] [--yes] [--json]\n"
           "                       updates every attached controller, each on its own USB\n"
           "                       port, and reports each; exit status 0 only if all were\n"
           "                       verified\n"
           "  station [--to VERSION] [--report FILE] [--json]\n"
           "                       updates each controller as it is plugged in, until\n"
           "                       Ctrl-C; --report appends a CSV line per controller\n"
           "  doctor [--json]      checks this computer for what an update needs (the udev\n"
           "                       rule, access to the controller, UDisks2, the login\n"
           "                       manager, the firmware server, the state folder) and says\n"
           "                       what to do; exit status 0 when no check fails, else 1\n"
           "\n"
           "Exit status: 0 installed and verified (status: an update is offered),\n"
           "1 failed or not verified, 2 timed out, 3 nothing to do (no controller,\n"
           "nothing newer, unsupported model), 64 usage error.\n";
}

}  // namespace tarvo
