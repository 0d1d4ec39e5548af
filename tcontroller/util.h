#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "tcontroller/platform/bytes.h"

namespace tarvo {

class FileSystem;
class ResourceReads;

// Shared types of the updater, and the loaders of the built-in release.
// Plain C++: the device and catalogue layers use these types too.
class Util {
  public:
    // Update status. Raw values are the declared ones, not positions.
    enum class UpSta : int { none = -1, failed = 1, suc = 0, updating = 999 };
    // Where the firmware being installed comes from.
    enum class UpMode : int { none = -1, bIn = 0, online = 1, offline = 2 };
    // Progress of the identification exchange with the controller.
    enum class ReadSta : int { MODEL = 0, FW = 1, DONE = 2 };

    // One published release (named as the server and the rest of the tool name it).
    struct Histoty {
        std::string ver;
        std::string date;
        bool operator==(const Histoty&) const = default;
    };

    // Conversions from raw values: any value that is not declared yields no case.
    static std::optional<UpSta> upStaFromRaw(int raw);
    static std::optional<UpMode> upModeFromRaw(int raw);
    static std::optional<ReadSta> readStaFromRaw(int raw);
    static std::string_view name(UpSta sta);  // "none", "failed", "suc", "updating"
    static std::string_view name(UpMode mode);

    // Where the built-in loaders find the tool's resources.
    struct Resources {
        std::string dir;  // holds TFW/IMG.bin and TFW/FW.bin
        ResourceReads* reads = nullptr;
        FileSystem* fileSystem = nullptr;
    };
    // The built-in image / firmware file when `mode` is bIn; absent (and silent)
    // for any other mode, absent with a log line when the file cannot be read.
    static std::optional<Bytes> getImageData(UpMode mode, const Resources& resources);
    static std::optional<Bytes> getFWData(UpMode mode, const Resources& resources);
};

}  // namespace tarvo
