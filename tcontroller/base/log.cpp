#include "tcontroller/base/log.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "tcontroller/base/log_file.h"
#include "tcontroller/base/recent_lines.h"

namespace tarvo {
namespace {

// How long the exit hook waits for queued lines before the process ends anyway
// (standard output may be a pipe nobody reads).
constexpr double kExitFlushSeconds = 2.0;
// A batch buffer larger than this is released after use, so one burst does not
// keep its memory for the rest of the run. Smaller ones are kept and reused: an
// unpaced burst of a line per frame fills well under this in one gather
// interval, so a steady stream of lines allocates nothing.
constexpr std::size_t kKeptBufferBytes = 4u << 20;
// After each write the writer lets lines gather this long before the next one,
// unless a flush waits: a burst (a line per USB frame) then costs one write per
// interval instead of one per line, and the threads that log never wake the
// writer while it gathers.
constexpr auto kGatherInterval = std::chrono::milliseconds(10);

// Writes all of `data` to standard output's descriptor. Straight to the
// descriptor, not through stdio: a write blocked on a reader that never reads
// then holds no stdio lock or buffer, so the process can still end (exit
// flushes stdio, which would block on the same pipe). False on an error.
bool writeAll(const std::string& data) {
    const char* at = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, at, left);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                // A non-blocking descriptor that is full: wait until it drains.
                pollfd out{STDOUT_FILENO, POLLOUT, 0};
                ::poll(&out, 1, -1);
                continue;
            }
            return false;
        }
        at += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

// The lines on their way to standard output and the thread that writes them.
// Callers only append to a buffer (which keeps its capacity, so a steady stream
// of lines allocates nothing); the writer takes everything queued at once,
// writes it in one go, lets the next lines gather for a moment, and repeats. A slow or blocked
// reader of standard output thus delays only the writer, never the thread that
// logs (the USB transfer among them).
//
// Created on first use and never destroyed, with its thread detached: the
// process ends through std::_Exit or a return from main while other threads may
// still log, so the queue must outlive every static destructor.
class LogWriter {
  public:
    static LogWriter& instance() {
        static LogWriter* const writer = new LogWriter;
        return *writer;
    }

    void append(std::string_view line) {
        bool wake;
        {
            std::lock_guard<std::mutex> hold(mutex_);
            pending_.append(line);
            pending_.push_back('\n');
            ++queued_;
            // Only a writer asleep for want of lines is woken, and only once.
            wake = idle_;
            idle_ = false;
        }
        if (wake) {
            wake_.notify_one();
        }
    }

    bool flush(double timeoutSeconds) {
        // NaN and negative waits are no wait; a huge one is capped well inside
        // the clock's range.
        const double seconds = timeoutSeconds > 0 ? std::min(timeoutSeconds, 1e9) : 0.0;
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                  std::chrono::duration<double>(seconds));
        std::unique_lock<std::mutex> hold(mutex_);
        const std::uint64_t target = queued_;
        // A writer gathering lines writes them at once while a flush waits.
        ++flushing_;
        wake_.notify_one();
        const bool handled =
            written_.wait_until(hold, deadline, [&] { return handled_ >= target; });
        --flushing_;
        return handled && !failed_;
    }

  private:
    LogWriter() {
        std::thread([this] { run(); }).detach();
        std::atexit([] { flushLog(kExitFlushSeconds); });
    }

    void run() {
        pthread_setname_np(pthread_self(), "tarvo-log");
        // A reader that went away makes a write fail with EPIPE; the signal it
        // would raise must not end the process from this thread.
        sigset_t pipeSignal;
        sigemptyset(&pipeSignal);
        sigaddset(&pipeSignal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);

        std::string batch;
        bool failed = false;
        for (;;) {
            std::uint64_t upTo;
            {
                std::unique_lock<std::mutex> hold(mutex_);
                idle_ = pending_.empty();
                wake_.wait(hold, [this] { return !pending_.empty(); });
                idle_ = false;
                batch.swap(pending_);
                upTo = queued_;
            }
            // After one failed write standard output is gone for good (a closed
            // pipe, a full disk): later lines are dropped rather than retried,
            // so the writer never spins on an error.
            if (!failed) {
                failed = !writeAll(batch);
            }
            if (batch.capacity() > kKeptBufferBytes) {
                std::string().swap(batch);
            } else {
                batch.clear();
            }
            {
                std::lock_guard<std::mutex> hold(mutex_);
                handled_ = upTo;
                failed_ = failed;
            }
            written_.notify_all();
            std::unique_lock<std::mutex> hold(mutex_);
            wake_.wait_for(hold, kGatherInterval, [this] { return flushing_ > 0; });
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;     // lines are pending (for the writer)
    std::condition_variable written_;  // a batch was handled (for flush)
    std::string pending_;              // whole lines, each ending in '\n'
    std::uint64_t queued_ = 0;         // lines appended so far
    std::uint64_t handled_ = 0;        // of those, written or dropped
    bool failed_ = false;              // a write to standard output failed
    bool idle_ = false;                // the writer waits for lines (append wakes it)
    int flushing_ = 0;                 // flush calls waiting for the writer
};

// Held across queueing a line and showing it to the tap, so the tap sees the
// lines in the order they reach standard output. Like the writer, never
// destroyed: a thread may log while static destructors run.
std::mutex& tapMutex() {
    static auto* const m = new std::mutex;
    return *m;
}
LogTap& tap() {
    static auto* const t = new LogTap;
    return *t;
}
// Whether a tap is set: without one (the tool itself) a line skips the tap's
// lock, and the writer's own lock keeps the lines in order.
std::atomic<bool> tapSet{false};
}  // namespace

namespace {
// Standard output, the support log file and the lines kept for support. The
// file has a writer of its own (log_file.cpp), so a blocked standard output
// never holds it back; none of the three allocates once its buffers have grown.
void record(std::string_view line) {
    LogWriter::instance().append(line);
    detail::queueForLogFile(line);
    recentLogLines().add(line);
}
}  // namespace

void logLine(std::string_view line) {
    if (!tapSet.load(std::memory_order_acquire)) {
        record(line);
        return;
    }
    std::lock_guard<std::mutex> hold(tapMutex());
    record(line);
    if (tap()) {
        tap()(std::string(line));
    }
}

bool flushLog(double timeoutSeconds) {
    const auto start = std::chrono::steady_clock::now();
    detail::flushLogFile(timeoutSeconds);
    const double spent =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return LogWriter::instance().flush(timeoutSeconds - spent);
}

std::string escapeForLog(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            out.push_back(c);
        } else {
            out += "\\x";
            out.push_back(kHex[byte >> 4]);
            out.push_back(kHex[byte & 0x0F]);
        }
    }
    return out;
}

void setLogTap(LogTap t) {
    std::lock_guard<std::mutex> hold(tapMutex());
    tap() = std::move(t);
    tapSet.store(static_cast<bool>(tap()), std::memory_order_release);
}

}  // namespace tarvo
