#pragma once

#include <chrono>
#include <cstdint>

#if defined(__x86_64__)
#include <x86intrin.h>
#endif

namespace tarvo {

// A fast monotonic counter for timing short spans on the hot path, such as
// one report write: reading it costs a few nanoseconds, about half of a clock
// read. The conversion to seconds is done later, off that path.
//
// On x86-64 it is the CPU's time-stamp counter when the kernel keeps time with
// it (the kernel then vouches that it is constant-rate and the same on every
// CPU); anywhere else it is the monotonic clock in nanoseconds.
namespace ticks {

namespace detail {
extern const bool useTimeStampCounter;
}

inline std::uint64_t now() {
#if defined(__x86_64__)
    if (detail::useTimeStampCounter) {
        return __rdtsc();
    }
#endif
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

// Seconds per tick. For the time-stamp counter this is measured against the
// monotonic clock since the process started, so the first call may wait until
// 20 ms have passed since then; call it where waiting is harmless.
double secondsPerTick();

}  // namespace ticks
}  // namespace tarvo
