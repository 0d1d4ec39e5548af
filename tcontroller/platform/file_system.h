#pragma once

#include <string>

#include "tcontroller/base/bytes.h"
#include "tcontroller/base/result.h"
#include "tcontroller/platform/bootloader_drive.h"

namespace tarvo {

// The few file operations of the firmware write and the built-in loaders.
class FileSystem {
  public:
    virtual ~FileSystem() = default;
    virtual bool exists(const std::string& path) = 0;
    // Deletes a file; a failure carries the system's description.
    virtual Result<void> remove(const std::string& path) = 0;
    // Creates a new file with the given contents in one pass, then flushes it
    // to the device. Fails when anything already exists at `path` (delete an
    // old file first); a symlink there is never followed. Fails with the
    // system's description if any step failed, the flush included; a file this
    // call created is then removed again.
    virtual Result<void> createFile(const std::string& path, const Bytes& contents) = 0;
    // True when a file system is mounted at `path` (it is not a plain folder of
    // the file system above it). Writing a volume's files is safe only then.
    virtual bool isMountPoint(const std::string& path) = 0;
    // What is mounted at `path`: the bus of the drive behind it, the file
    // system's size and the names in its top folder. Fails, saying why, when
    // the folder or the file system cannot be read.
    virtual Result<VolumeFacts> describeVolume(const std::string& path) = 0;
};

}  // namespace tarvo
