#include "tcontroller/text_format.h"

#include <charconv>
#include <cstdio>

namespace tarvo {

std::string shortestDecimal(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string lowerHex(unsigned int value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%x", value);
    return buffer;
}

}  // namespace tarvo
