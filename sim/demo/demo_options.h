#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/firmware_server.h"
#include "sim/virtual_controller.h"

namespace tarvo::demo {

// Exit statuses of the demo program with --auto.
inline constexpr int kExitUpdated = 0;  // the release was installed and the tool verified it
// The update or a download failed, or was not verified; or the simulated world
// could not be set up (said on standard error).
inline constexpr int kExitFailed = 1;
inline constexpr int kExitTimeout = 2;  // --auto did not finish within --timeout seconds
// Nothing to install: no update offered, or the tool refused the controller
// (another model, or no answer to the identification).
inline constexpr int kExitNothing = 3;
inline constexpr int kExitUsage = 64;  // bad command line

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
    // --controllers: how many controllers are plugged in, each on a USB port
    // and with a bootloader volume of its own.
    int controllers = 1;
    // --device-fault F: what every controller does wrong (with one
    // controller, that one); --device-fault K:F for controller K (from 1)
    // only, in place of F. See faultOf().
    sim::DeviceFault deviceFault = sim::DeviceFault::none;
    std::map<int, sim::DeviceFault> controllerFaults;
    // --plug-interval: controller K is plugged in (K-1) times this many
    // seconds after the start (not scaled by --fast); 0: all at the start.
    double plugIntervalSeconds = 0;
    // The history query is answered this many seconds late (server time, never
    // scaled by --fast); with --auto the update is pressed without waiting for it.
    double historyDelaySeconds = 0;
    std::string screenshotsDir;  // empty: no screenshots
    int timeoutSeconds = 600;
    std::optional<std::size_t> imageSize;   // --image-size: of every release's image file
    bool unpaced = false;                   // --unpaced: no 1 ms pacing of the controller's reports
    std::optional<std::string> reportFile;  // --report: what the controller holds at the end
    // --lookalike-drive: a USB stick labelled like the bootloader's drive, with
    // a file of its owner on it, is mounted before the controller's drive.
    bool lookalikeDrive = false;
    // --station-view: the station's view instead of the window; with
    // --screenshots it updates every controller by itself and pictures it.
    bool stationView = false;
    // --restart-after image|final-step: the tool is closed at that point of the
    // update and started again on the same controller and state folder.
    std::string restartAfter;
    // --choose VERSION | --choose files:IMAGE,FIRMWARE: with --auto, UPDATE TO
    // PREVIOUS instead of UPDATE TO NEWEST, and that row of the chooser (the
    // file row, answered with those two files).
    std::string choose;

    // The fault of controller `k` (from 1).
    sim::DeviceFault faultOf(int k) const {
        const auto it = controllerFaults.find(k);
        return it != controllerFaults.end() ? it->second : deviceFault;
    }
};

// The largest --controllers.
inline constexpr int kMaxControllers = 8;

// The largest --image-size.
inline constexpr std::size_t kMaxImageSize = std::size_t{64} * 1024 * 1024;

enum class ParseOutcome { run, help, error };

// Parses the arguments after the program name. Both "--name value" and
// "--name=value" are accepted. On error, `error` says what was wrong.
ParseOutcome parseDemoOptions(const std::vector<std::string>& args, DemoOptions* options,
                              std::string* error);

// "none", "refuse", "404", "500", "truncate", "stall".
std::optional<sim::ServerFault> parseServerFault(const std::string& name);

// "none", "unplug-in-erase", "replug-in-erase", "unplug-in-data",
// "lose-final-step", "volume-full", "unmount-before-write", "keep-old-version",
// "no-answer".
std::optional<sim::DeviceFault> parseDeviceFault(const std::string& name);
// The name parseDeviceFault takes, and what the fault does, in a few words.
const char* deviceFaultName(sim::DeviceFault fault);
const char* deviceFaultEffect(sim::DeviceFault fault);

// "1.3:2020-01-15,1.2:2019-10-22"; an empty text is an empty list.
std::optional<std::vector<sim::PublishedRelease>> parseReleases(const std::string& text);

const char* demoUsage();

}  // namespace tarvo::demo
