#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tarvo {

// The tool's diagnostic log: one plain line per event on standard output, no
// prefix or time stamp. logLine only queues the line, without taking a lock;
// a thread of the log's own hands the lines on in order, none dropped, to a
// writer thread for standard output (which writes them whole and flushes after
// each batch, so support can read them live), to the support log file and to
// the lines kept for support. A slow or blocked reader of standard output thus
// never holds up the thread that logs. At a normal exit the queue is flushed
// for up to 2 s. After a failed write (a closed pipe) output is dropped, but
// lines are still accepted and still reach the tap.
void logLine(std::string_view line);

// How the line logged for every report written to the controller begins; the
// support log and the lines kept for support fold runs of it into one line.
inline constexpr std::string_view kFrameLinePrefix = "write spend: ";

// Logs the line for one report written to the controller: kFrameLinePrefix,
// the seconds the write took (between two readings of ticks::now(), nine
// decimals), " - return code: " and `code` in lower-case hexadecimal. The line
// is written out on the log's own thread, so the thread that writes the
// reports spends no time on it.
void logWrite(std::uint64_t startTicks, std::uint64_t endTicks, unsigned code);

// How standard output shows the log: plain lines (the window's tool), each
// line as one JSON object {"event":"log","line":"..."} for a front end whose
// standard output is JSON lines, or not at all (a front end that prints only
// its own answer). The support log always gets plain lines.
enum class StdoutStyle { plain, json, quiet };
void setStdoutStyle(StdoutStyle style);

// Writes `line` to standard output only, in order with the log's lines: a
// front end's own output (a result, a JSON event). Neither the support log
// nor the lines kept for support get it.
void printLine(std::string_view line);
// The same for a front end's last line (a command's result): the log's lines
// that follow it reach the support log but no longer standard output.
void printLastLine(std::string_view line);

// Appends `text` to `out` as a JSON string: quoted, with '"', '\' and the
// control characters escaped. Bytes above 0x7F are copied as they are.
void appendJsonString(std::string& out, std::string_view text);

// Waits until every line logged before the call has been handed on (to the
// writers and the recent lines), but not for the writes themselves: true, or
// false when `timeoutSeconds` passed first.
bool dispatchLog(double timeoutSeconds);

// Waits until every line queued before the call has been written and flushed
// (true), or until `timeoutSeconds` have passed or standard output failed
// (false). Call it before std::_Exit, which skips the exit-time flush.
bool flushLog(double timeoutSeconds);

// Text from outside (a server's reply, a device's bytes, a system error) made
// safe for one log line: every byte outside printable ASCII, and the backslash
// itself, is written as \xNN, so such text can neither start a new line nor
// steer a terminal, and the original bytes can still be read back.
std::string escapeForLog(std::string_view text);

// Tests observe the log through a tap, called from logLine on the caller's
// thread before it returns, one line at a time in the order the lines are
// written; the line still goes to standard output. Passing an empty function
// removes the tap.
using LogTap = std::function<void(const std::string&)>;
void setLogTap(LogTap tap);

}  // namespace tarvo
