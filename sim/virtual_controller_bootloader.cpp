// The virtual controller's bootloader stage: it leaves HID after the final
// step, mounts its volume, takes FW.bin, flashes and comes back on HID.
#include <cstdio>
#include <string>

#include "sim/firmware_format.h"
#include "sim/sim_loop.h"
#include "sim/sim_volume_watcher.h"
#include "sim/virtual_controller.h"

namespace tarvo::sim {

void VirtualController::leaveForBootloader(unsigned epoch) {
    std::shared_ptr<VirtualDevice> device;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (epoch != epoch_ || mode_ != Mode::hid) {
            return;
        }
        device = detachLocked();
        mode_ = Mode::bootloader;
        flashing_ = false;
        chatter("final step: leaving HID for the bootloader");
        if (faults_.loseFinalStep) {
            // Once: after a replug the image is still in flash, and the next
            // final step mounts the volume as usual.
            faults_.loseFinalStep = false;
            chatter("bootloader volume does not appear until the controller is replugged (fault)");
        } else if (faults_.mountAfterFinalStep) {
            loop_->post(config_.timings.mount, [this, epoch] { mountVolume(epoch); });
        } else {
            chatter("bootloader will not mount its volume (fault)");
        }
        changedLocked();
    }
    if (device) {
        emitDisconnected(device);
    }
}

void VirtualController::mountVolume(unsigned epoch) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (epoch != epoch_ || mode_ != Mode::bootloader) {
        return;
    }
    if (const tarvo::Result<void> mounted = volume_.mount(volumeSetupLocked()); !mounted.ok()) {
        // A broken test setup, not a fault of the tool: always said.
        std::fprintf(stderr, "virtual controller: cannot mount the bootloader volume: %s\n",
                     mounted.error.c_str());
        return;
    }
    chatter("bootloader volume mounted at " + volume_.path());
    if (config_.volumeWatcher) {
        config_.volumeWatcher->announceMount(volume_.path(), {}, config_.port);
    }
    if (faults_.unmountBeforeWrite) {
        chatter("bootloader volume gone again before anything was written (fault)");
        unmountLocked();
    }
    changedLocked();
}

void VirtualController::onVolumeEvent() {
    std::lock_guard<std::mutex> hold(mutex_);
    // Always drain the queue first, so the descriptor stops being readable.
    if (!volume_.firmwareWritten() || mode_ != Mode::bootloader || flashing_ ||
        !volume_.isMounted()) {
        return;
    }
    const auto file = volume_.readFirmware();
    const auto parsed = file ? parseReleaseFile(*file) : std::nullopt;
    if ((!file || !parsed) && faults_.volumeFull) {
        // The tool's write ran out of space: the part it wrote, if still there,
        // is not its mistake.
        chatter("FW.bin incomplete: the volume is full (fault)");
    } else if (!file) {
        checker_.addViolation(ViolationKind::firmware, "FW.bin cannot be read");
    } else if (!parsed) {
        checker_.addViolation(ViolationKind::firmware,
                              "FW.bin of " + std::to_string(file->size()) +
                                  " bytes is not a valid firmware file (truncated or corrupt)");
    } else if (parsed->kind != FileKind::firmware) {
        checker_.addViolation(ViolationKind::firmware, "FW.bin holds an image file, not firmware");
    } else {
        receivedFirmware_ = *file;
        flashing_ = true;
        if (faults_.keepOldVersion) {
            chatter("FW.bin accepted, firmware " + parsed->versionChars +
                    ", flashing; will go on reporting " + config_.versionChars + " (fault)");
        } else {
            config_.versionChars = parsed->versionChars;
            chatter("FW.bin accepted, firmware " + config_.versionChars + ", flashing");
        }
        const unsigned epoch = epoch_;
        loop_->post(config_.timings.flash, [this, epoch] { finishFlash(epoch); });
    }
    if (!flashing_) {
        chatter("FW.bin rejected; staying in bootloader mode");
    }
    changedLocked();
}

void VirtualController::finishFlash(unsigned epoch) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (epoch != epoch_ || mode_ != Mode::bootloader) {
        return;
    }
    unmountLocked();
    mode_ = Mode::off;
    flashing_ = false;
    chatter("flashed; restarting");
    loop_->post(config_.timings.reconnect, [this, epoch] { attach(epoch); });
    changedLocked();
}

// Announcements are made under the lock (they only queue), so whoever sees the
// volume's new state knows the watcher has been told.
void VirtualController::unmountLocked() {
    if (!volume_.isMounted()) {
        return;
    }
    volume_.unmount();
    if (config_.volumeWatcher) {
        config_.volumeWatcher->announceUnmount(volume_.path(), {}, config_.port);
    }
}

BootloaderVolume::Setup VirtualController::volumeSetupLocked() const {
    BootloaderVolume::Setup setup;
    setup.path = config_.volumePath.empty() ? volume_.defaultPath() : config_.volumePath;
    setup.tmpfs = config_.tmpfsVolume;
    setup.tmpfsBytes = config_.tmpfsBytes;
    setup.full = faults_.volumeFull;
    setup.oldFirmware = config_.oldFirmwareOnVolume;
    return setup;
}

bool VirtualController::refuseFileForSpace(const std::string& name) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!faults_.volumeFull || !volume_.isMounted() || volume_.isTmpfs()) {
        return false;
    }
    chatter(name + " does not fit: no space left on the volume (fault)");
    return true;
}

}  // namespace tarvo::sim
