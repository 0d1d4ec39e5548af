#include "tcontroller/base/log_file.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <system_error>

#include "tcontroller/base/log.h"

namespace tarvo {
namespace {

// The per-frame line of an image transfer, written once for every report.
constexpr std::string_view kFramePrefix = "write spend: ";

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

// The file the writer thread copies to, if any. Never destroyed, like the log's
// writer: a thread may log while static destructors run.
struct Sink {
    std::mutex mutex;
    std::unique_ptr<LogFile> file;
};
Sink& sink() {
    static auto* const s = new Sink;
    return *s;
}

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
        std::fclose(file_);
    }
}

void LogFile::write(std::string_view lines, std::chrono::system_clock::time_point when) {
    if (file_ == nullptr) {
        return;
    }
    const std::string stamp = timeStamp(when);
    while (!lines.empty()) {
        const std::size_t end = lines.find('\n');
        const std::string_view line = lines.substr(0, end);
        writeLine(line, stamp);
        lines.remove_prefix(end == std::string_view::npos ? lines.size() : end + 1);
    }
    std::fflush(file_);
}

void LogFile::writeLine(std::string_view line, const std::string& stamp) {
    if (line.starts_with(kFramePrefix)) {
        lastFrameLine_.assign(line);
        if (++framesUnwritten_ >= static_cast<std::uint64_t>(limits_.framesPerSummary)) {
            writeFrameSummary(stamp);
        }
        return;
    }
    writeFrameSummary(stamp);
    append(stamp, line);
}

void LogFile::writeFrameSummary(const std::string& stamp) {
    if (framesUnwritten_ == 0) {
        return;
    }
    // A lone frame line (an identification request) is kept as it is.
    append(stamp, framesUnwritten_ == 1 ? lastFrameLine_
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
    // Lines queued before belong to the earlier file (or to none).
    flushLog(2.0);
    std::lock_guard<std::mutex> hold(sink().mutex);
    sink().file = std::move(file);
    return Result<std::string>::success(std::move(path));
}

void stopLogFile() {
    flushLog(2.0);
    std::lock_guard<std::mutex> hold(sink().mutex);
    sink().file.reset();
}

namespace detail {
void copyToLogFile(std::string_view batch) {
    std::lock_guard<std::mutex> hold(sink().mutex);
    if (sink().file) {
        sink().file->write(batch, std::chrono::system_clock::now());
    }
}
}  // namespace detail

}  // namespace tarvo
