#pragma once

#include <optional>
#include <string>

#include "tcontroller/base/bytes.h"
#include "tcontroller/base/util.h"

namespace tarvo {

class FileSystem;
class ResourceReads;

// The release built into the tool (resources/TFW), offered without a network.
inline constexpr const char* kBuiltinVersion = "1.2";
inline constexpr const char* kBuiltinDate = "2019-10-22";

// Where the built-in loaders find the tool's resources.
struct BuiltinResources {
    std::string dir;  // holds TFW/IMG.bin and TFW/FW.bin
    ResourceReads* reads = nullptr;
    FileSystem* fileSystem = nullptr;
};

// The built-in image / firmware file when `mode` is bIn; absent (and silent)
// for any other mode, absent with a log line when the file cannot be read.
std::optional<Bytes> getImageData(Util::UpMode mode, const BuiltinResources& resources);
std::optional<Bytes> getFWData(Util::UpMode mode, const BuiltinResources& resources);

}  // namespace tarvo
