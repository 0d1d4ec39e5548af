#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/firmware_server.h"

namespace tarvo::demo {

// Exit statuses of the demo program.
inline constexpr int kExitUpdated = 0;  // the update went through (or there was nothing to do)
inline constexpr int kExitFailed = 1;   // the update ended failed, or a download failed
inline constexpr int kExitTimeout = 2;  // --auto did not finish within --timeout seconds
inline constexpr int kExitUsage = 64;   // bad command line

// What the demo was asked to simulate and do.
struct DemoOptions {
    bool autoRun = false;     // --auto: press through one update
    bool fast = false;        // --fast: the tool's waits run a hundred times faster
    bool bootloader = false;  // --bootloader: the controller starts as its bootloader volume
    bool offline = false;     // --offline: no network
    std::string controllerFirmware = "1.1";
    char controllerModel = 'T';
    std::vector<sim::PublishedRelease> releases = {
        {"1.3", "2020-01-15", std::nullopt, std::nullopt},
        {"1.2", "2019-10-22", std::nullopt, std::nullopt},
    };
    std::optional<std::string> historyFile;
    sim::ServerFault serverFault = sim::ServerFault::none;
    std::string screenshotsDir;  // empty: no screenshots
    int timeoutSeconds = 600;
};

enum class ParseOutcome { run, help, error };

// Parses the arguments after the program name. Both "--name value" and
// "--name=value" are accepted. On error, `error` says what was wrong.
ParseOutcome parseDemoOptions(const std::vector<std::string>& args, DemoOptions* options,
                              std::string* error);

// "none", "refuse", "404", "500", "truncate", "stall".
std::optional<sim::ServerFault> parseServerFault(const std::string& name);

// "1.3:2020-01-15,1.2:2019-10-22"; an empty text is an empty list.
std::optional<std::vector<sim::PublishedRelease>> parseReleases(const std::string& text);

const char* demoUsage();

}  // namespace tarvo::demo
