#pragma once

#include <string>

#include "tcontroller/base/bytes.h"

namespace tarvo {

// The few file operations of the firmware write and the built-in loaders.
class FileSystem {
  public:
    virtual ~FileSystem() = default;
    virtual bool exists(const std::string& path) = 0;
    // Deletes a file. On failure returns false and sets *error to a description.
    virtual bool remove(const std::string& path, std::string* error) = 0;
    // Creates a new file with the given contents in one pass, then flushes it
    // to the device. Fails when anything already exists at `path` (delete an
    // old file first); a symlink there is never followed. Returns false, with
    // *error set, if any step failed, the flush included; a file this call
    // created is then removed again.
    virtual bool createFile(const std::string& path, const Bytes& contents, std::string* error) = 0;
    // True when a file system is mounted at `path` (it is not a plain folder of
    // the file system above it). Writing a volume's files is safe only then.
    virtual bool isMountPoint(const std::string& path) = 0;
};

}  // namespace tarvo
