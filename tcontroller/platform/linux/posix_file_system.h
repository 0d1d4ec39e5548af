#pragma once

#include "tcontroller/platform/file_system.h"

namespace tarvo {

// FileSystem on POSIX calls. Error texts are the system's descriptions
// ("No such file or directory", "No space left on device").
class PosixFileSystem : public FileSystem {
  public:
    bool exists(const std::string& path) override;
    Result<void> remove(const std::string& path) override;
    // One open that creates the file (O_CREAT | O_EXCL | O_NOFOLLOW: an entry
    // already at the path, a symlink included, fails with "File exists"), the
    // bytes written front to back in one pass, fsync, close. A bootloader's
    // minimal FAT reader wants the file in contiguous clusters, so nothing is
    // preallocated, rewritten or truncated afterwards. On failure the partial
    // file this call created is deleted; nothing else is.
    Result<void> createFile(const std::string& path, const Bytes& contents) override;
    bool isMountPoint(const std::string& path) override;
    // The size from statvfs, the names from the folder itself, and the bus
    // from the block device the file system lives on: "usb" when its device in
    // /sys/dev/block hangs below a USB port (a tmpfs or a network share has
    // no block device and so no bus).
    Result<VolumeFacts> describeVolume(const std::string& path) override;
};

}  // namespace tarvo
