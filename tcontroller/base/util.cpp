#include "tcontroller/base/util.h"

namespace tarvo {

std::optional<Util::UpSta> Util::upStaFromRaw(int raw) {
    switch (raw) {
        case -1:
            return UpSta::none;
        case 1:
            return UpSta::failed;
        case 0:
            return UpSta::suc;
        case 999:
            return UpSta::updating;
        default:
            return std::nullopt;
    }
}

std::optional<Util::UpMode> Util::upModeFromRaw(int raw) {
    switch (raw) {
        case -1:
            return UpMode::none;
        case 0:
            return UpMode::bIn;
        case 1:
            return UpMode::online;
        case 2:
            return UpMode::offline;
        default:
            return std::nullopt;
    }
}

std::optional<Util::ReadSta> Util::readStaFromRaw(int raw) {
    switch (raw) {
        case 0:
            return ReadSta::MODEL;
        case 1:
            return ReadSta::FW;
        case 2:
            return ReadSta::DONE;
        default:
            return std::nullopt;
    }
}

std::string_view Util::name(UpSta sta) {
    switch (sta) {
        case UpSta::none:
            return "none";
        case UpSta::failed:
            return "failed";
        case UpSta::suc:
            return "suc";
        case UpSta::updating:
            return "updating";
    }
    return "none";
}

}  // namespace tarvo
