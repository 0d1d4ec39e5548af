#include "tcontroller/base/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>

#include "tcontroller/base/batch_writer.h"
#include "tcontroller/base/log.h"

namespace tarvo {
namespace {

// The per-frame line of an image transfer, written once for every report.
constexpr std::string_view kFramePrefix = kFrameLinePrefix;
// How long switching files waits for the lines logged for the old one.
constexpr double kSwitchFlushSeconds = 2.0;

// The file is only ever opened through these flags: appended to, created
// private to its owner, never through a link. O_NONBLOCK keeps a FIFO put at
// the path from blocking the open; anything but a regular file is refused.
constexpr int kFileFlags = O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
constexpr mode_t kFileMode = 0600;
constexpr mode_t kFolderMode = 0700;

bool isLink(int folderFd, const char* path) {
    struct stat st {};
    return ::fstatat(folderFd, path, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

// Why opening `shown` failed: a link is named as such (O_NOFOLLOW reports it
// as ELOOP, or ENOTDIR for a folder).
std::string openError(const std::string& shown, int err, bool link) {
    return link ? shown + " is a symbolic link" : "cannot open " + shown + ": " + errnoText(err);
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_ino == b.st_ino && a.st_dev == b.st_dev;
}

// Takes group and other access away from a file or folder of ours that an
// earlier version created with the usual umask.
void makePrivate(int fd, mode_t mode) {
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 077) != 0) {
        ::fchmod(fd, mode);
    }
}

// Creates `folder` and its missing parents, each with mode 0700 (links among
// the parents are followed, as a user may keep ~/.local elsewhere).
Result<void> makeFolders(const std::string& folder) {
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (::mkdir(part.c_str(), kFolderMode) != 0 && errno != EEXIST) {
            const int err = errno;
            struct stat st {};
            if (::stat(part.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
                return Result<void>::failure("cannot create " + part + ": " + errnoText(err));
            }
        }
        if (slash == std::string::npos) {
            return Result<void>::success();
        }
    }
}

std::string timeStamp(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const std::time_t seconds = system_clock::to_time_t(when);
    const auto millis = duration_cast<milliseconds>(when.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, ".%03d", static_cast<int>(millis));
    return text;
}

// Lines on their way to the file, each ending in '\n', with the time each was
// logged.
struct StampedLines {
    std::string text;
    std::vector<std::chrono::system_clock::time_point> times;

    bool empty() const { return times.empty(); }
    void recycle() {
        if (text.capacity() > detail::kLogKeptBufferBytes) {
            std::string().swap(text);
            std::vector<std::chrono::system_clock::time_point>().swap(times);
        } else {
            text.clear();
            times.clear();
        }
    }
    friend void swap(StampedLines& a, StampedLines& b) noexcept {
        a.text.swap(b.text);
        a.times.swap(b.times);
    }
};

// The support log's side of the log: while a file is open, the dispatcher
// queues each line with its time for the file's writer thread
// ("tarvo-log-file"), which writes every batch to the file and flushes it.
// Like the writer it is created on first use and never destroyed: a thread
// may log while static destructors run. (The exit-time flush is the log's
// own: it dispatches the lines still queued first, then flushes this writer
// and standard output's.)
class FileSink {
  public:
    static FileSink& instance() {
        static FileSink* const sink = new FileSink;
        return *sink;
    }

    bool open() const { return open_.load(std::memory_order_acquire); }

    void queue(std::string_view line, std::chrono::system_clock::time_point when) {
        if (!open()) {
            return;
        }
        writer_.add(1, [&](StampedLines& pending) {
            pending.text.append(line);
            pending.text.push_back('\n');
            pending.times.push_back(when);
        });
    }

    bool flush(std::chrono::steady_clock::time_point deadline) { return writer_.flush(deadline); }

    // Switches to `file` (none: stops), after the lines queued for the old one.
    void replace(std::unique_ptr<LogFile> file) {
        // Lines logged so far belong to the old file, if there is one.
        dispatchLog(kSwitchFlushSeconds);
        flush(detail::deadlineAfter(kSwitchFlushSeconds));
        std::lock_guard<std::mutex> hold(fileMutex_);
        file_ = std::move(file);
        open_.store(file_ != nullptr, std::memory_order_release);
    }

  private:
    FileSink() = default;

    // On the writer's thread: the batch's lines go to the file, if one is open.
    bool write(const StampedLines& batch) {
        std::lock_guard<std::mutex> hold(fileMutex_);
        if (file_) {
            std::string_view rest = batch.text;
            for (const auto& when : batch.times) {
                const std::size_t end = rest.find('\n');
                file_->write(rest.substr(0, end), when);
                rest.remove_prefix(end + 1);
            }
            file_->flush();
        }
        // A file that cannot be written drops lines until its path can be
        // opened again; the writer goes on.
        return true;
    }

    std::atomic<bool> open_{false};
    std::mutex fileMutex_;  // held while the file is written or replaced
    std::unique_ptr<LogFile> file_;
    // Last: its thread starts once the members above are there.
    detail::BatchWriter<StampedLines> writer_{"tarvo-log-file",
                                              [this](StampedLines& batch) { return write(batch); }};
};

}  // namespace

LogFile::LogFile(std::string path, Limits limits) : path_(std::move(path)), limits_(limits) {
    const std::size_t slash = path_.rfind('/');
    name_ = slash == std::string::npos ? path_ : path_.substr(slash + 1);
    folder_ = slash == std::string::npos ? "." : path_.substr(0, slash);
    // "folder/" would follow a link at the folder: its name ends at its last letter.
    while (folder_.size() > 1 && folder_.back() == '/') {
        folder_.pop_back();
    }
    if (folder_.empty()) {
        folder_.push_back('/');  // the root (an assignment of "/" trips GCC 12's -Wrestrict at -O3)
    }
    opened_ = openFolder() && openFile();
}

LogFile::~LogFile() {
    if (opened_) {
        writeFrameSummary();
    }
    closeFile();
    if (folderFd_ >= 0) {
        ::close(folderFd_);
    }
}

bool LogFile::openFolder() {
    if (folderFd_ >= 0) {
        ::close(folderFd_);
        folderFd_ = -1;
    }
    if (const Result<void> made = makeFolders(folder_); !made.ok()) {
        error_ = made.error;
        return false;
    }
    const int fd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        error_ = openError(folder_, err, isLink(AT_FDCWD, folder_.c_str()));
        return false;
    }
    makePrivate(fd, kFolderMode);
    folderFd_ = fd;
    return true;
}

bool LogFile::openFile() {
    const int fd = ::openat(folderFd_, name_.c_str(), kFileFlags, kFileMode);
    if (fd < 0) {
        const int err = errno;
        error_ = openError(path_, err, isLink(folderFd_, name_.c_str()));
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        error_ = path_ + " is not a regular file";
        return false;
    }
    makePrivate(fd, kFileMode);
    file_ = ::fdopen(fd, "a");
    if (file_ == nullptr) {
        const int err = errno;
        ::close(fd);
        error_ = "cannot open " + path_ + ": " + errnoText(err);
        return false;
    }
    size_ = static_cast<std::uintmax_t>(st.st_size);
    return true;
}

void LogFile::closeFile() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
}

void LogFile::followPath() {
    checked_ = true;
    struct stat open {};
    struct stat named {};
    const bool folderThere = folderFd_ >= 0 && ::fstat(folderFd_, &open) == 0 &&
                             ::lstat(folder_.c_str(), &named) == 0 && sameFile(open, named);
    if (!folderThere) {
        closeFile();
        if (!openFolder()) {
            return;
        }
    }
    if (file_ != nullptr) {
        if (::fstat(::fileno(file_), &open) == 0 && open.st_nlink > 0 &&
            ::fstatat(folderFd_, name_.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            sameFile(open, named)) {
            return;
        }
        // Moved or deleted: what follows goes to a new file at the path.
        closeFile();
    }
    openFile();
}

void LogFile::write(std::string_view line, std::chrono::system_clock::time_point when) {
    if (!opened_) {
        return;
    }
    if (line.starts_with(kFramePrefix)) {
        lastFrameLine_.assign(line);
        lastFrameStamp_ = timeStamp(when);
        if (++framesUnwritten_ >= static_cast<std::uint64_t>(limits_.framesPerSummary)) {
            writeFrameSummary();
        }
        return;
    }
    writeFrameSummary();
    append(timeStamp(when), line);
}

void LogFile::flush() {
    if (file_ != nullptr) {
        std::fflush(file_);
    }
    checked_ = false;
}

void LogFile::writeFrameSummary() {
    if (framesUnwritten_ == 0) {
        return;
    }
    // A lone frame line (an identification request) is kept as it is.
    append(lastFrameStamp_, framesUnwritten_ == 1
                                ? lastFrameLine_
                                : lastFrameLine_ + " (" + std::to_string(framesUnwritten_) +
                                      " frame writes, the last of them shown)");
    framesUnwritten_ = 0;
}

void LogFile::append(const std::string& stamp, std::string_view text) {
    if (!checked_) {
        followPath();
    }
    if (file_ == nullptr) {
        return;
    }
    if (size_ > 0 && size_ + stamp.size() + text.size() + 2 > limits_.maxBytes) {
        rotate();
        if (file_ == nullptr) {
            return;
        }
    }
    std::string line;
    line.reserve(stamp.size() + text.size() + 2);
    line.append(stamp).push_back(' ');
    line.append(text).push_back('\n');
    if (std::fwrite(line.data(), 1, line.size(), file_) == line.size()) {
        size_ += line.size();
    }
}

void LogFile::rotate() {
    closeFile();
    // Names inside the open folder: a rename moves a link, it never follows one.
    const auto numbered = [this](int n) { return name_ + "." + std::to_string(n); };
    ::unlinkat(folderFd_, numbered(limits_.keptFiles).c_str(), 0);
    for (int n = limits_.keptFiles - 1; n >= 1; --n) {
        ::renameat(folderFd_, numbered(n).c_str(), folderFd_, numbered(n + 1).c_str());
    }
    if (limits_.keptFiles > 0) {
        ::renameat(folderFd_, name_.c_str(), folderFd_, numbered(1).c_str());
    } else {
        ::unlinkat(folderFd_, name_.c_str(), 0);
    }
    openFile();
}

std::string defaultLogDirectory() {
    const char* state = std::getenv("XDG_STATE_HOME");
    std::string base;
    if (state != nullptr && state[0] == '/') {
        base = state;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home != nullptr ? home : "") + "/.local/state";
    }
    return base + "/tarvo-remote-update";
}

Result<std::string> startLogFile(const std::string& directory, LogFile::Limits limits) {
    auto file = std::make_unique<LogFile>(directory + "/" + kLogFileName, limits);
    if (!file->ok()) {
        return Result<std::string>::failure(file->error());
    }
    std::string path = file->path();
    FileSink::instance().replace(std::move(file));
    return Result<std::string>::success(std::move(path));
}

void stopLogFile() {
    FileSink::instance().replace(nullptr);
}

namespace detail {
bool logFileOpen() {
    return FileSink::instance().open();
}

void queueForLogFile(std::string_view line, std::chrono::system_clock::time_point when) {
    FileSink::instance().queue(line, when);
}

bool flushLogFile(std::chrono::steady_clock::time_point deadline) {
    return FileSink::instance().flush(deadline);
}
}  // namespace detail

}  // namespace tarvo
