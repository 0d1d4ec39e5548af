#pragma once

#include <string>

namespace tarvo {

// The shortest decimal text that reads back as the same double ("50.25", "0.1").
std::string shortestDecimal(double value);

}  // namespace tarvo
