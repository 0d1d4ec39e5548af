#pragma once

#include <cstdint>
#include <string_view>

namespace tarvo {

// The key by which firmware versions are ordered: the first three dot-separated
// pieces a.b.c give a*10000 + b*100 + c. Empty pieces are dropped ("1..2" is
// 1.2), missing pieces count as 0 ("1.2" == "1.2.0") and pieces after the third
// are ignored. A piece that is not a plain base-10 signed 64-bit integer
// (optional single '+' or '-', then digits only) counts as 0, so "1a.2" is 200
// and " 1.2" (leading space) is 200 as well.
std::int64_t versionKey(std::string_view v);

// True exactly when a's key is greater than b's; equal keys are never newer.
bool isNewer(std::string_view a, std::string_view b);

}  // namespace tarvo
