#include "tcontroller/base/text_format.h"

#include <charconv>

namespace tarvo {

std::string shortestDecimal(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

}  // namespace tarvo
