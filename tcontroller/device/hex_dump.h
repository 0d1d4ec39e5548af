#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tcontroller/base/bytes.h"

namespace tarvo {

// The log line for a frame or report: four blanks, then every byte as two
// upper-case hexadecimal digits and a blank ("    A9 04 01 "). An empty buffer
// gives the four blanks alone. The caller logs the line.
std::string hexDump(const std::uint8_t* bytes, std::size_t length);
std::string hexDump(const Bytes& bytes);

}  // namespace tarvo
