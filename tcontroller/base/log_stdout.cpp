#include "tcontroller/base/log_stdout.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace tarvo::detail {
namespace {

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
// The log's dispatcher (LogQueue below) appends them to a buffer, which keeps
// its capacity, so a steady stream of lines allocates nothing; the writer takes
// everything queued at once, writes it in one go, lets the next lines gather
// for a moment, and repeats. A slow or blocked reader of standard output thus
// delays only this writer, never the dispatcher or the threads that log.
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

    // Queues `text`, `count` whole lines each ending in '\n'.
    void append(std::string_view text, std::uint64_t count) {
        bool wake;
        {
            std::lock_guard<std::mutex> hold(mutex_);
            pending_.append(text);
            queued_ += count;
            // Only a writer asleep for want of lines is woken, and only once.
            wake = idle_;
            idle_ = false;
        }
        if (wake) {
            wake_.notify_one();
        }
    }

    bool flush(std::chrono::steady_clock::time_point deadline) {
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
            if (batch.capacity() > kLogKeptBufferBytes) {
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
            wake_.wait_for(hold, kLogGatherInterval, [this] { return flushing_ > 0; });
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

}  // namespace

void queueForStdout(std::string_view text, std::uint64_t lines) {
    LogWriter::instance().append(text, lines);
}

bool flushStdout(std::chrono::steady_clock::time_point deadline) {
    return LogWriter::instance().flush(deadline);
}

}  // namespace tarvo::detail
