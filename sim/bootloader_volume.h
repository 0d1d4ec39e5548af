#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "tcontroller/base/bytes.h"
#include "tcontroller/base/result.h"

namespace tarvo::sim {

// The bootloader's mass-storage volume: a directory the simulator owns, or a
// real tmpfs mount, which appears with its files already on it. Watches its root with inotify for
// FW.bin being closed after writing. Not thread-safe: the owner serialises calls.
class BootloaderVolume {
  public:
    // Creates a private base directory (for the default volume path) and the
    // inotify descriptor. Throws std::runtime_error when either fails.
    BootloaderVolume();
    ~BootloaderVolume();  // unmounts and removes what it created
    BootloaderVolume(const BootloaderVolume&) = delete;
    BootloaderVolume& operator=(const BootloaderVolume&) = delete;

    // How and where the volume is mounted.
    struct Setup {
        // A directory at `path`, created at mount (it must then be absent or
        // empty) and removed at unmount; or a tmpfs mounted there (the mount
        // point is created when missing).
        std::string path;
        bool tmpfs = false;
        std::size_t tmpfsBytes = 1u << 20;
        // A full volume: a tmpfs is mounted with room for one page only. (A
        // directory volume cannot fill up; the simulated file system refuses
        // instead.)
        bool full = false;
        // The volume appears holding an old "firmware.bin" (otherwise empty).
        bool oldFirmware = false;
    };

    // "CRP DISABLE" in the volume's private base directory.
    const std::string& defaultPath() const { return defaultPath_; }
    // Where and how the volume is mounted, or was last.
    const std::string& path() const { return path_; }
    bool isTmpfs() const { return tmpfs_; }
    bool isMounted() const { return mounted_; }

    // Mounts the volume as `setup` says, or fails saying why. Does nothing
    // while it is mounted.
    tarvo::Result<void> mount(const Setup& setup);
    void unmount();

    int notifyFd() const { return notifyFd_; }
    // Drains the inotify queue; true when FW.bin was closed after writing.
    bool firmwareWritten();
    // FW.bin, whole, or absent when it is missing, unreadable or implausibly large.
    std::optional<Bytes> readFirmware() const;

    // Whether this process may mount a tmpfs; otherwise `reason` says why not.
    static bool canMountTmpfs(std::string* reason);

  private:
    // Mounts the private staging tmpfs a tmpfs volume is made ready in, once.
    tarvo::Result<void> makeStage();

    std::string baseDir_;
    std::string stageDir_;
    bool staged_ = false;
    std::string defaultPath_;
    std::string path_;
    bool tmpfs_ = false;
    bool mounted_ = false;
    std::vector<std::string> createdMountPoints_;
    int notifyFd_ = -1;
    int watch_ = -1;
};

}  // namespace tarvo::sim
