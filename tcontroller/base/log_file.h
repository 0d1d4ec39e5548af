#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "tcontroller/base/result.h"

namespace tarvo {

// The support log: a copy of the tool's log in a file a user can send, every
// line with the local time it was logged ("2026-12-06 13:05:42.117 hid
// connect"). The file grows to `maxBytes`, then it is renamed to NAME.1 (NAME.1
// to NAME.2 and so on, the oldest beyond `keptFiles` dropped) and a new one is
// begun.
//
// The per-frame lines of an image transfer ("write spend: ...") would fill the
// file with thousands of equal lines, so the file keeps one in every
// `framesPerSummary` of them, counted, plus the count of the rest when another
// line follows. Standard output is not touched: it keeps every line.
//
// The tool may run as another user than the owner of the folder (sudo -E), so
// the file never follows a symbolic link: the folder is opened once, refused
// when it is a link, and the file, its rotations and its reopenings are opened
// inside that open folder with O_NOFOLLOW, mode 0600 (the folder 0700). A file
// that was moved or deleted while the tool runs is noticed before the next
// batch of lines (after each flush) and the path is opened afresh, so the rest
// of the session lands in the file at the path; likewise a folder that was
// moved or deleted.
//
// Not thread-safe by itself; the support log's writer thread is its one user.
class LogFile {
  public:
    struct Limits {
        std::uintmax_t maxBytes = 4u << 20;
        int keptFiles = 3;  // rotated files kept besides the current one
        int framesPerSummary = 1000;
    };

    // Opens (appends to) `path`, creating its folder and the folder's missing
    // parents (mode 0700). Check ok() before use.
    LogFile(std::string path, Limits limits);
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Whether the file could be opened at first. (A file that cannot be opened
    // again later drops lines until the path can be opened.)
    bool ok() const { return opened_; }
    const std::string& error() const { return error_; }
    const std::string& path() const { return path_; }

    // Writes one line (without its '\n') logged at `when`.
    void write(std::string_view line, std::chrono::system_clock::time_point when);
    // Hands what was written to the system. The next line written first checks
    // that the file is still the one at the path.
    void flush();

  private:
    void writeFrameSummary();
    void append(const std::string& stamp, std::string_view text);
    void rotate();
    // Creates and opens the folder (refusing a link); false with error_ set
    // when it cannot.
    bool openFolder();
    // Opens the file in the open folder; false with error_ set when it cannot.
    bool openFile();
    void closeFile();
    // Reopens the folder or the file when either is no longer at its path.
    void followPath();

    std::string path_;
    std::string folder_;
    std::string name_;
    Limits limits_;
    int folderFd_ = -1;
    std::FILE* file_ = nullptr;
    bool opened_ = false;
    bool checked_ = true;  // the file was checked against the path since the last flush
    std::uintmax_t size_ = 0;
    std::string error_;
    std::uint64_t framesUnwritten_ = 0;  // frame lines counted, not yet in the file
    std::string lastFrameLine_;
    std::string lastFrameStamp_;
};

// Where the support log lives: $XDG_STATE_HOME/tarvo-remote-update, or
// ~/.local/state/tarvo-remote-update when XDG_STATE_HOME is unset or not an
// absolute path (as the base-directory rules say).
std::string defaultLogDirectory();

// The file name of the support log inside its folder.
inline constexpr const char* kLogFileName = "tarvo-remote-update.log";

// From now on every line given to logLine is also written, by a writer thread
// of the support log's own, to `directory`/tarvo-remote-update.log (the folder
// is created with mode 0700, its missing parents too). A symbolic link at the
// folder or at the file is refused: "<path> is a symbolic link". Returns the
// file's path. Calling it again switches to the new
// file. flushLog waits for this writer too; at a normal exit its queue is
// flushed for up to 2 s.
Result<std::string> startLogFile(const std::string& directory, LogFile::Limits limits = {});

// Stops the copy to the file and closes it, after the lines queued so far.
void stopLogFile();

namespace detail {
// Called by the log's dispatcher: queues the line with the time it was logged
// when a file is open (a lock and an append; nothing when none is).
bool logFileOpen();
void queueForLogFile(std::string_view line, std::chrono::system_clock::time_point when);
// Waits until the lines queued so far are in the file; false when the
// deadline passed first.
bool flushLogFile(std::chrono::steady_clock::time_point deadline);
}  // namespace detail

}  // namespace tarvo
