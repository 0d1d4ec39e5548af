#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvo {

// An owned, contiguous byte buffer of any length, zero included.
using Bytes = std::vector<std::uint8_t>;

inline Bytes bytesFromString(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

}  // namespace tarvo
