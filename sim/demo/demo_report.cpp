#include "sim/demo/demo_report.h"

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

// What the controller holds at the end, taken from the simulator and never
// from the tool, so a run can be judged apart from what the tool claims.
bool writeReport(const std::string& path, int status, sim::SimulatedPlatform& sim,
                 const std::vector<sim::PublishedRelease>& releases,
                 const LookalikeDrive& lookalike) {
    sim::VirtualController& controller = sim.controller();
    sim::FirmwareServer& server = sim.server();
    const std::string tfw = sim.platform().resourcesDir + "/TFW/";
    Bytes image = controller.receivedImage();
    std::optional<Bytes> received;
    if (controller.dataFrameCount() > 0 || controller.imageComplete()) {
        received = std::move(image);
    }
    std::ofstream out(path, std::ios::trunc);
    out << "exit=" << status << "\n"
        << "controller_reports=" << controller.config().versionChars << "\n"
        << "controller_on_hid=" << (controller.isOnHid() ? 1 : 0) << "\n"
        << "firmware="
        << releaseLabel(
               controller.receivedFirmware(), releases,
               [&server](const std::string& ver) { return server.firmwareFile(ver); },
               tfw + "FW.bin")
        << "\n"
        << "image="
        << releaseLabel(
               received, releases,
               [&server](const std::string& ver) { return server.imageFile(ver); }, tfw + "IMG.bin")
        << "\n"
        << "image_complete=" << (controller.imageComplete() ? 1 : 0) << "\n"
        << "violations=" << controller.violationCount() << "\n"
        << "lookalike_drive=" << lookalike.state() << "\n";
    return static_cast<bool>(out.flush());
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
    sim::VirtualController& controller = sim.controller();
    sim::FirmwareServer& server = sim.server();
    // What the controller saw, for whoever reads the chatter (the window
    // owns the controller, so this is said before the window goes).
    using sim::Command;
    const auto violations = controller.violations();
    note("the controller took " + std::to_string(controller.frameCount(Command::erase)) +
         " erase, " + std::to_string(controller.frameCount(Command::begin)) + " begin, " +
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
