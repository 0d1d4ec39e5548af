#pragma once

#include "tcontroller/platform/file_system.h"

namespace tarvo {

// FileSystem on POSIX calls. Error texts are the system's descriptions
// ("No such file or directory", "No space left on device").
class PosixFileSystem : public FileSystem {
  public:
    bool exists(const std::string& path) override;
    bool remove(const std::string& path, std::string* error) override;
    // One open (created or truncated), the bytes written front to back in one
    // pass, fsync, close. A bootloader's minimal FAT reader wants the file in
    // contiguous clusters, so nothing is preallocated, rewritten or truncated
    // afterwards. On failure no partial file is left behind.
    bool createFile(const std::string& path, const Bytes& contents, std::string* error) override;
    bool isMountPoint(const std::string& path) override;
};

}  // namespace tarvo
