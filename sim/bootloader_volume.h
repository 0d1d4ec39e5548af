#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "tcontroller/platform/bytes.h"

namespace tarvo::sim {

// The bootloader's mass-storage volume: a directory the simulator owns, or a
// real tmpfs mount. Watches its root with inotify for FW.bin being closed after
// writing. Not thread-safe: the owner serialises calls.
class BootloaderVolume {
  public:
    // Creates a private base directory (for the default volume path) and the
    // inotify descriptor. Throws std::runtime_error when either fails.
    BootloaderVolume();
    ~BootloaderVolume();  // unmounts and removes what it created
    BootloaderVolume(const BootloaderVolume&) = delete;
    BootloaderVolume& operator=(const BootloaderVolume&) = delete;

    // Directory mode (the default): the volume is a directory at `path`, created
    // at mount (it must then be absent or empty) and removed at unmount.
    void useDirectory(const std::string& path);
    // tmpfs mode: a tmpfs of `sizeBytes` is mounted at `mountPoint` (created when
    // missing). A small size simulates a full volume.
    void useTmpfs(const std::string& mountPoint, std::size_t sizeBytes);
    const std::string& path() const { return path_; }
    bool isTmpfs() const { return tmpfs_; }
    bool isMounted() const { return mounted_; }

    // A full volume: a tmpfs is mounted with room for one page only. (A
    // directory volume cannot fill up; the simulated file system refuses
    // instead.) Takes effect at the next mount.
    void setFull(bool on) { full_ = on; }
    // Mounts the volume, empty or holding an old "firmware.bin".
    bool mount(bool withOldFirmware, std::string* error);
    void unmount();

    int notifyFd() const { return notifyFd_; }
    // Drains the inotify queue; true when FW.bin was closed after writing.
    bool firmwareWritten();
    // FW.bin, whole, or absent when it is missing, unreadable or implausibly large.
    std::optional<Bytes> readFirmware() const;

    // Whether this process may mount a tmpfs; otherwise `reason` says why not.
    static bool canMountTmpfs(std::string* reason);

  private:
    std::string baseDir_;
    std::string path_;
    bool tmpfs_ = false;
    std::size_t tmpfsSize_ = 0;
    bool full_ = false;
    bool mounted_ = false;
    bool createdMountPoint_ = false;
    int notifyFd_ = -1;
    int watch_ = -1;
};

}  // namespace tarvo::sim
