#pragma once

// What a demo run leaves behind for whoever judges it: the look-alike USB
// stick of --lookalike-drive, and what the virtual controller saw and holds
// at the end (the chatter and the --report file), taken from the simulator
// and never from the tool.
#include <filesystem>
#include <fstream>
#include <string>

#include "sim/demo/demo_options.h"
#include "sim/demo/note.h"
#include "sim/simulated_platform.h"
#include "tcontroller/base/bytes.h"

namespace tarvo::demo {

// Reads a whole file; false when it cannot be read.
bool readWholeFile(const std::string& path, std::string* out);

// The USB stick of --lookalike-drive: labelled like the controller's drive,
// holding a photo of its owner.
struct LookalikeDrive {
    std::filesystem::path path;
    Bytes photo;

    // Plugs it in: the folder with the photo, announced like any USB drive,
    // under the next name a desktop gives a drive of that label after the
    // controllers' ("CRP DISABLE1" beside one controller).
    bool plugIn(sim::SimulatedPlatform& sim) {
        path = std::filesystem::path(sim.bootloaderPath()).parent_path() /
               ("CRP DISABLE" + std::to_string(sim.controllerCount()));
        photo.resize(std::size_t{48} * 1024);
        for (std::size_t i = 0; i < photo.size(); ++i) {
            photo[i] = static_cast<std::uint8_t>(i * 37 + (i >> 9));
        }
        std::error_code ec;
        std::filesystem::create_directories(path, ec);
        std::ofstream out(path / "holiday.jpg", std::ios::binary);
        out.write(reinterpret_cast<const char*>(photo.data()),
                  static_cast<std::streamsize>(photo.size()));
        if (ec || !out.flush()) {
            return false;
        }
        // A small stick, so only what it holds tells it from the controller's.
        sim.fileSystem().declareUsbDrive(path.string(), std::uint64_t{1} << 20);
        sim.volumeWatcher().announceMount(path.string(), kBootloaderLabel);
        note("a USB stick labelled \"CRP DISABLE\" with a photo on it is mounted at \"" +
             path.string() + "\"");
        return true;
    }
    // "untouched" when it still holds the photo, byte for byte, and nothing else.
    std::string state() const {
        if (path.empty()) {
            return "none";
        }
        std::error_code ec;
        std::size_t entries = 0;
        for (auto it = std::filesystem::directory_iterator(path, ec);
             !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
            ++entries;
        }
        std::ifstream in(path / "holiday.jpg", std::ios::binary);
        const Bytes now((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return !ec && entries == 1 && now == photo ? "untouched" : "changed";
    }
};

// Says what the controller saw, writes the --report file and stops the
// server; called while the tool (window or engine) still owns the controller.
// Returns `status`, or kExitFailed when the report cannot be written.
int finishRun(int status, sim::SimulatedPlatform& sim, const DemoOptions& options,
              const LookalikeDrive& lookalike);

}  // namespace tarvo::demo
