#pragma once

#include <cstdint>

// Who the controller is on USB and in its identification answer.
namespace tarvo::identity {

inline constexpr std::uint16_t kVendorId = 0xC251;
inline constexpr std::uint16_t kProductId = 0x2201;
// The model code the supported controller answers with; the firmware history
// is asked for by it too.
inline constexpr const char* kModelCode = "T";

}  // namespace tarvo::identity
