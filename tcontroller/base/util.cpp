#include "tcontroller/base/util.h"

namespace tarvo {

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
