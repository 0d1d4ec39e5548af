#include "tcontroller/base/ticks.h"

#include <atomic>
#include <fstream>
#include <string>
#include <thread>

namespace tarvo::ticks {
namespace {

using Steady = std::chrono::steady_clock;

bool kernelKeepsTimeWithTsc() {
#if defined(__x86_64__)
    std::ifstream source("/sys/devices/system/clocksource/clocksource0/current_clocksource");
    std::string name;
    return static_cast<bool>(source >> name) && name == "tsc";
#else
    return false;
#endif
}

// A reading of the counter and of the monotonic clock at the same moment.
struct Anchor {
    std::uint64_t ticks;
    Steady::time_point steady;
};

Anchor anchorNow() {
    return {now(), Steady::now()};
}

// How long the counter is measured against the clock before its rate is used,
// and after how long the measured rate is kept for good.
constexpr auto kFirstMeasure = std::chrono::milliseconds(20);
constexpr auto kFinalMeasure = std::chrono::seconds(10);

}  // namespace

namespace detail {
const bool useTimeStampCounter = kernelKeepsTimeWithTsc();
}

namespace {
const Anchor gStart = anchorNow();
std::atomic<double> gFinalRate{0};
}  // namespace

double secondsPerTick() {
    if (!detail::useTimeStampCounter) {
        return 1e-9;
    }
    if (const double rate = gFinalRate.load(std::memory_order_relaxed); rate > 0) {
        return rate;
    }
    std::this_thread::sleep_until(gStart.steady + kFirstMeasure);
    const Anchor here = anchorNow();
    const double rate = std::chrono::duration<double>(here.steady - gStart.steady).count() /
                        static_cast<double>(here.ticks - gStart.ticks);
    if (here.steady - gStart.steady >= kFinalMeasure) {
        gFinalRate.store(rate, std::memory_order_relaxed);
    }
    return rate;
}

}  // namespace tarvo::ticks
