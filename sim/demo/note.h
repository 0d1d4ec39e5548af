#pragma once

#include <cstdio>
#include <string>

namespace tarvo::demo {

// Says `line` on standard error as "demo: <line>", beside the simulator's other
// chatter; standard output carries only the tool's own log.
inline void note(const std::string& line) {
    const std::string text = "demo: " + line + "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

}  // namespace tarvo::demo
