#include "sim/demo/demo_report.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <sstream>
#include <vector>

#include "sim/demo/note.h"

namespace tarvo::demo {
namespace {

// Which releases `bytes` are, separated by commas: each version whose file the
// server serves with exactly these bytes and "builtin" for the tool's built-in
// file (a tiny image can be all of them); "none" when nothing was received,
// "other" for bytes of no release.
std::string releaseLabel(const std::optional<Bytes>& bytes,
                         const std::vector<sim::PublishedRelease>& releases,
                         const std::function<std::optional<Bytes>(const std::string&)>& served,
                         const std::string& builtinPath) {
    if (!bytes) {
        return "none";
    }
    std::string labels;
    const auto add = [&labels](const std::string& label) {
        labels += (labels.empty() ? "" : ",") + label;
    };
    for (const sim::PublishedRelease& release : releases) {
        if (served(release.ver) == bytes) {
            add(release.ver);
        }
    }
    std::string builtin;
    if (readWholeFile(builtinPath, &builtin) && Bytes(builtin.begin(), builtin.end()) == *bytes) {
        add("builtin");
    }
    return labels.empty() ? "other" : labels;
}

// What controller `k` holds at the end, taken from the simulator and never
// from the tool, so a run can be judged apart from what the tool claims: its
// keys, each after `prefix`.
void reportController(std::ostream& out, const std::string& prefix, sim::SimulatedPlatform& sim,
                      int k, const std::vector<sim::PublishedRelease>& releases) {
    sim::VirtualController& controller = sim.controller(k);
    sim::FirmwareServer& server = sim.server();
    const std::string tfw = sim.platform().resourcesDir + "/TFW/";
    Bytes image = controller.receivedImage();
    std::optional<Bytes> received;
    if (controller.dataFrameCount() > 0 || controller.imageComplete()) {
        received = std::move(image);
    }
    // The first controller's keys are named as they were before there were more.
    const std::string reports = prefix.empty() ? "controller_reports" : prefix + "reports";
    const std::string onHid = prefix.empty() ? "controller_on_hid" : prefix + "on_hid";
    out << reports << "=" << controller.config().versionChars << "\n"
        << onHid << "=" << (controller.isOnHid() ? 1 : 0) << "\n"
        << prefix << "firmware="
        << releaseLabel(
               controller.receivedFirmware(), releases,
               [&server](const std::string& ver) { return server.firmwareFile(ver); },
               tfw + "FW.bin")
        << "\n"
        << prefix << "image="
        << releaseLabel(
               received, releases,
               [&server](const std::string& ver) { return server.imageFile(ver); }, tfw + "IMG.bin")
        << "\n"
        << prefix << "image_complete=" << (controller.imageComplete() ? 1 : 0) << "\n"
        << prefix << "violations=" << controller.violationCount() << "\n";
}

// The --report file: the run's status, every controller, the look-alike drive.
bool writeReport(const std::string& path, int status, sim::SimulatedPlatform& sim,
                 const std::vector<sim::PublishedRelease>& releases,
                 const LookalikeDrive& lookalike) {
    std::ofstream out(path, std::ios::trunc);
    out << "exit=" << status << "\n";
    reportController(out, "", sim, 1, releases);
    out << "lookalike_drive=" << lookalike.state() << "\n";
    for (int k = 2; k <= sim.controllerCount(); ++k) {
        reportController(out, "controller" + std::to_string(k) + "_", sim, k, releases);
    }
    return static_cast<bool>(out.flush());
}

// What controller `k` saw, for whoever reads the chatter.
void tellFrames(sim::SimulatedPlatform& sim, int k) {
    sim::VirtualController& controller = sim.controller(k);
    using sim::Command;
    const std::string who =
        sim.controllerCount() > 1 ? "controller " + std::to_string(k) : "the controller";
    const auto violations = controller.violations();
    note(who + " took " + std::to_string(controller.frameCount(Command::erase)) + " erase, " +
         std::to_string(controller.frameCount(Command::begin)) + " begin, " +
         std::to_string(controller.frameCount(Command::data)) + " data, " +
         std::to_string(controller.frameCount(Command::end)) + " end and " +
         std::to_string(controller.frameCount(Command::finalStep)) +
         " final-step frames; protocol violations: " + std::to_string(violations.size()));
    constexpr std::size_t kShown = 10;
    for (std::size_t i = 0; i < std::min(violations.size(), kShown); ++i) {
        note(std::string("violation (") + sim::violationKindName(violations[i].kind) +
             "): " + violations[i].description);
    }
    if (violations.size() > kShown) {
        note("and " + std::to_string(violations.size() - kShown) + " more violations");
    }
}

}  // namespace

bool readWholeFile(const std::string& path, std::string* out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    *out = text.str();
    return static_cast<bool>(in) || in.eof();
}

int finishRun(int status, sim::SimulatedPlatform& sim, const DemoOptions& options,
              const LookalikeDrive& lookalike) {
    sim::FirmwareServer& server = sim.server();
    // What the controllers saw (the window owns them, so this is said before
    // the window goes).
    for (int k = 1; k <= sim.controllerCount(); ++k) {
        tellFrames(sim, k);
    }
    if (options.reportFile &&
        !writeReport(*options.reportFile, status, sim, options.releases, lookalike)) {
        std::fprintf(stderr, "tarvo-remote-demo: cannot write %s\n", options.reportFile->c_str());
        status = kExitFailed;
    }
    // The window's threads are joined when it goes, and a history query
    // still held back by the server would keep one of them waiting.
    server.stop();
    return status;
}

}  // namespace tarvo::demo
