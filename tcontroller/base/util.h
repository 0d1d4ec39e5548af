#pragma once

#include <string>
#include <string_view>

namespace tarvo {

// Shared types of the updater. Plain C++: every layer uses them.
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

    static std::string_view name(UpSta sta);  // "none", "failed", "suc", "updating"
};

}  // namespace tarvo
