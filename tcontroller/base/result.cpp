#include "tcontroller/base/result.h"

#include <string.h>

namespace tarvo {

std::string errnoText(int err) {
    // The English description whatever the locale: these texts go into the
    // log, which stays English when the window is translated (strerror and
    // std::generic_category follow LC_MESSAGES and LANGUAGE).
    if (const char* text = ::strerrordesc_np(err)) {
        return text;
    }
    return "Unknown error " + std::to_string(err);
}

}  // namespace tarvo
