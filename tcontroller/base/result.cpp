#include "tcontroller/base/result.h"

#include <system_error>

namespace tarvo {

std::string errnoText(int err) {
    return std::generic_category().message(err);
}

}  // namespace tarvo
