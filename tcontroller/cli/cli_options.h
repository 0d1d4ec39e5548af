#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarvo {

// What a start of the tool with a sub-command asks for. Plain C++: parsed
// before any Qt object exists, and fuzzed.
struct CliOptions {
    enum class Command { status, update, releases, doctor, station };
    Command command = Command::status;
    bool json = false;  // JSON on standard output instead of text
    bool yes = false;   // no question before an update
    // What `update` installs: the newest release when none of these is given.
    std::string to;  // a published version
    std::string image;
    std::string firmware;  // with `image`: a pair of local files
    bool builtin = false;  // the release built into the tool
    // `update --all`: every attached controller, each on its own port.
    bool all = false;
    // `station --report FILE`: one CSV line per finished controller appended.
    std::string report;
};

// The result of reading the arguments after the program's name: options, or
// the reason they are not usable (a usage error, exit status 64).
struct CliParse {
    std::optional<CliOptions> options;
    std::string error;
};

// True when `first` names a sub-command (the arguments are then the command
// line's, not the window's).
bool isSubCommand(const std::string& first);

// Reads `args` (the arguments after the program's name, the sub-command first).
CliParse parseCliArguments(const std::vector<std::string>& args);

// The usage text of the sub-commands and their exit statuses.
std::string cliUsage();

// Exit statuses of the command line (and of the demo's --auto).
inline constexpr int kExitInstalled = 0;  // installed and verified (status: offered)
inline constexpr int kExitFailed = 1;     // failed or not verified
inline constexpr int kExitTimedOut = 2;
inline constexpr int kExitNothingToDo = 3;  // no controller, nothing newer, unsupported model
inline constexpr int kExitUsage = 64;

}  // namespace tarvo
