#include "tcontroller/base/log.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "tcontroller/base/recent_lines.h"

namespace tarvo {
namespace {

// How long the exit hook waits for queued lines before the process ends anyway
// (standard output may be a pipe nobody reads).
constexpr double kExitFlushSeconds = 2.0;
// A batch buffer larger than this is released after use, so one burst does not
// keep its memory for the rest of the run.
constexpr std::size_t kKeptBufferBytes = 1u << 20;

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
// Callers only append to a buffer; the writer takes everything queued at once,
// writes it in one go, and repeats. A slow or blocked
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
        bool wasEmpty;
        {
            std::lock_guard<std::mutex> hold(mutex_);
            wasEmpty = pending_.empty();
            pending_.append(line);
            pending_.push_back('\n');
            ++queued_;
        }
        // The writer sleeps only while nothing is pending.
        if (wasEmpty) {
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
        const bool handled =
            written_.wait_until(hold, deadline, [&] { return handled_ >= target; });
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
                wake_.wait(hold, [this] { return !pending_.empty(); });
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
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;     // lines are pending (for the writer)
    std::condition_variable written_;  // a batch was handled (for flush)
    std::string pending_;              // whole lines, each ending in '\n'
    std::uint64_t queued_ = 0;         // lines appended so far
    std::uint64_t handled_ = 0;        // of those, written or dropped
    bool failed_ = false;              // a write to standard output failed
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
}  // namespace

void logLine(std::string_view line) {
    std::lock_guard<std::mutex> hold(tapMutex());
    LogWriter::instance().append(line);
    recentLogLines().add(line);
    if (tap()) {
        tap()(std::string(line));
    }
}

bool flushLog(double timeoutSeconds) {
    return LogWriter::instance().flush(timeoutSeconds);
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
}

}  // namespace tarvo
