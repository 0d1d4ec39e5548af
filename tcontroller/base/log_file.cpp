#include "tcontroller/base/log_file.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "tcontroller/base/log.h"
#include "tcontroller/base/log_stdout.h"

namespace tarvo {
namespace {

// The per-frame line of an image transfer, written once for every report.
constexpr std::string_view kFramePrefix = kFrameLinePrefix;
// How long the exit hook waits for queued lines.
constexpr double kExitFlushSeconds = 2.0;

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

// The lines on their way to the file and the thread that writes them: callers
// append a line and its time; the writer takes everything queued at once and
// writes it. Like the standard-output writer it is created on first use and
// never destroyed, with its thread detached: a thread may log while static
// destructors run.
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
        bool wasEmpty;
        {
            std::lock_guard<std::mutex> hold(mutex_);
            wasEmpty = times_.empty();
            pending_.append(line);
            pending_.push_back('\n');
            times_.push_back(when);
            ++queued_;
        }
        if (wasEmpty) {
            wake_.notify_one();
        }
    }

    bool flush(std::chrono::steady_clock::time_point deadline) {
        std::unique_lock<std::mutex> hold(mutex_);
        const std::uint64_t target = queued_;
        return written_.wait_until(hold, deadline, [&] { return handled_ >= target; });
    }

    // Switches to `file` (none: stops), after the lines queued for the old one.
    void replace(std::unique_ptr<LogFile> file) {
        // Lines logged so far belong to the old file, if there is one.
        dispatchLog(kExitFlushSeconds);
        flush(detail::deadlineAfter(kExitFlushSeconds));
        std::lock_guard<std::mutex> hold(fileMutex_);
        file_ = std::move(file);
        open_.store(file_ != nullptr, std::memory_order_release);
    }

  private:
    FileSink() {
        std::thread([this] { run(); }).detach();
        std::atexit([] { FileSink::instance().flush(detail::deadlineAfter(kExitFlushSeconds)); });
    }

    void run() {
        pthread_setname_np(pthread_self(), "tarvo-log-file");
        std::string batch;
        std::vector<std::chrono::system_clock::time_point> times;
        for (;;) {
            std::uint64_t upTo;
            {
                std::unique_lock<std::mutex> hold(mutex_);
                wake_.wait(hold, [this] { return !times_.empty(); });
                batch.swap(pending_);
                times.swap(times_);
                upTo = queued_;
            }
            {
                std::lock_guard<std::mutex> hold(fileMutex_);
                if (file_) {
                    std::string_view rest = batch;
                    for (const auto& when : times) {
                        const std::size_t end = rest.find('\n');
                        file_->write(rest.substr(0, end), when);
                        rest.remove_prefix(end + 1);
                    }
                    file_->flush();
                }
            }
            batch.clear();
            times.clear();
            {
                std::lock_guard<std::mutex> hold(mutex_);
                handled_ = upTo;
            }
            written_.notify_all();
        }
    }

    std::atomic<bool> open_{false};
    std::mutex mutex_;
    std::condition_variable wake_;     // lines are pending (for the writer)
    std::condition_variable written_;  // a batch was handled (for flush)
    std::string pending_;              // whole lines, each ending in '\n'
    std::vector<std::chrono::system_clock::time_point> times_;  // one per pending line
    std::uint64_t queued_ = 0;
    std::uint64_t handled_ = 0;
    std::mutex fileMutex_;  // held while the file is written or replaced
    std::unique_ptr<LogFile> file_;
};

}  // namespace

LogFile::LogFile(std::string path, Limits limits) : path_(std::move(path)), limits_(limits) {
    file_ = std::fopen(path_.c_str(), "ae");
    if (file_ == nullptr) {
        error_ = "cannot open " + path_ + ": " + errnoText(errno);
        return;
    }
    std::error_code ec;
    const auto size = std::filesystem::file_size(path_, ec);
    size_ = ec ? 0 : size;
}

LogFile::~LogFile() {
    if (file_ != nullptr) {
        writeFrameSummary();
        std::fclose(file_);
    }
}

void LogFile::write(std::string_view line, std::chrono::system_clock::time_point when) {
    if (file_ == nullptr) {
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
    std::fclose(file_);
    file_ = nullptr;
    std::error_code ec;
    const auto numbered = [this](int n) { return path_ + "." + std::to_string(n); };
    std::filesystem::remove(numbered(limits_.keptFiles), ec);
    for (int n = limits_.keptFiles - 1; n >= 1; --n) {
        std::filesystem::rename(numbered(n), numbered(n + 1), ec);
    }
    if (limits_.keptFiles > 0) {
        std::filesystem::rename(path_, numbered(1), ec);
    } else {
        std::filesystem::remove(path_, ec);
    }
    file_ = std::fopen(path_.c_str(), "we");
    size_ = 0;
    if (file_ == nullptr) {
        error_ = "cannot open " + path_ + ": " + errnoText(errno);
    }
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
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    if (ec) {
        return Result<std::string>::failure("cannot create " + directory + ": " +
                                            errnoText(ec.value()));
    }
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
