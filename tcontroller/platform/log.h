#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace tarvo {

// The tool's diagnostic log: one plain line per event on standard output, no
// prefix or time stamp. Lines are written whole (never interleaved between
// threads) and flushed at once, so support can read them live.
void logLine(std::string_view line);

// Text from outside (a server's reply, a device's bytes, a system error) made
// safe for one log line: every byte outside printable ASCII, and the backslash
// itself, is written as \xNN, so such text can neither start a new line nor
// steer a terminal, and the original bytes can still be read back.
std::string escapeForLog(std::string_view text);

// Tests observe the log through a tap; the line still goes to standard output.
// Passing an empty function removes the tap.
using LogTap = std::function<void(const std::string&)>;
void setLogTap(LogTap tap);

}  // namespace tarvo
