#pragma once

#include <cstddef>

// How the bar divides an update between its stages, in percent: the erase
// wait fills it up to kEraseEnd (one percent a second), the image's data frames
// take kDataShare after that, the end of the image brings it to kDataEnd, and
// the firmware write the rest (a step after each of the two deletions, the
// last when the file is written).
namespace tarvo::progress {

inline constexpr double kEraseEnd = 35.0;
inline constexpr double kDataShare = 60.0;
inline constexpr double kDataEnd = 95.0;
inline constexpr double kFirstDeletion = 96.0;
inline constexpr double kSecondDeletion = 98.0;
inline constexpr double kWritten = 100.0;

// The bar once data frame `i` of `frames` (counted from 0) is sent: linear
// through the data's share, over frames + 1 steps, so it stays below kDataEnd
// until the image's end.
inline double afterDataFrame(std::size_t i, std::size_t frames) {
    return static_cast<double>(i) * (kDataShare / static_cast<double>(frames + 1)) + kEraseEnd;
}

}  // namespace tarvo::progress
