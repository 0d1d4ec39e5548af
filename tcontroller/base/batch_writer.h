#pragma once

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

// What the log's writers share: the writer thread that takes what the log's
// dispatcher (log.cpp) queued for one sink, a batch at a time, and how long
// the log waits for it.
namespace tarvo::detail {

// The time `seconds` from now. NaN and negative waits are no wait; a huge one
// is capped well inside the clock's range.
inline std::chrono::steady_clock::time_point deadlineAfter(double seconds) {
    const double s = seconds > 0 ? std::min(seconds, 1e9) : 0.0;
    return std::chrono::steady_clock::now() +
           std::chrono::duration_cast<std::chrono::steady_clock::duration>(
               std::chrono::duration<double>(s));
}

// After each round the log's threads let lines gather this long before the
// next one, unless a flush waits: a burst (a line per USB frame) then costs one
// write per interval instead of one per line, and no thread is woken per line.
inline constexpr auto kLogGatherInterval = std::chrono::milliseconds(10);

// A buffer of lines larger than this is released after use, so one burst does
// not keep its memory for the rest of the run. Smaller ones are kept and
// reused: an unpaced burst of a line per frame fills well under this in one
// gather interval, so a steady stream of lines allocates nothing.
inline constexpr std::size_t kLogKeptBufferBytes = 4u << 20;

// One sink's queue and the thread that writes it. The dispatcher adds entries
// to the pending batch under a lock; the writer takes the whole batch at once,
// hands it to the sink, lets the next entries gather for kLogGatherInterval
// (a flush cuts that short) and repeats. A slow sink thus delays only its own
// writer, never the dispatcher or the threads that log.
//
// `Batch` is the sink's pending entries: default-constructible, swappable,
// with empty(), and recycle() that empties it and keeps its buffers unless
// they grew large. The two batches (pending and being written) swap buffers,
// so a steady stream of entries allocates nothing.
//
// The writer's thread is detached and the object is never destroyed (make it
// with new and keep it): the process ends through std::_Exit or a return from
// main while other threads may still log, so it must outlive every static
// destructor.
template <typename Batch>
class BatchWriter {
  public:
    // Writes one batch on the writer's thread; false when the sink failed for
    // good (a closed pipe, a full disk): later batches are then dropped rather
    // than retried, so the writer never spins on an error, and flush reports
    // the loss.
    using Write = std::function<bool(Batch&)>;

    BatchWriter(const char* threadName, Write write)
        : threadName_(threadName), write_(std::move(write)) {
        std::thread([this] { run(); }).detach();
    }
    BatchWriter(const BatchWriter&) = delete;
    BatchWriter& operator=(const BatchWriter&) = delete;

    // Adds `count` entries to the pending batch through `add(Batch&)`, which
    // runs under the writer's lock.
    template <typename Add>
    void add(std::uint64_t count, const Add& add) {
        bool wake;
        {
            std::lock_guard<std::mutex> hold(mutex_);
            add(pending_);
            queued_ += count;
            // Only a writer asleep for want of entries is woken, and only once.
            wake = idle_;
            idle_ = false;
        }
        if (wake) {
            wake_.notify_one();
        }
    }

    // Waits until the entries added so far are written: false when the
    // deadline passed first or the sink failed.
    bool flush(std::chrono::steady_clock::time_point deadline) {
        std::unique_lock<std::mutex> hold(mutex_);
        const std::uint64_t target = queued_;
        // A writer gathering entries writes them at once while a flush waits.
        ++flushing_;
        wake_.notify_one();
        const bool handled =
            written_.wait_until(hold, deadline, [&] { return handled_ >= target; });
        --flushing_;
        return handled && !failed_;
    }

  private:
    void run() {
        pthread_setname_np(pthread_self(), threadName_);
        // A reader that went away makes a write fail with EPIPE; the signal it
        // would raise must not end the process from this thread.
        sigset_t pipeSignal;
        sigemptyset(&pipeSignal);
        sigaddset(&pipeSignal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);

        Batch batch;
        bool failed = false;
        for (;;) {
            std::uint64_t upTo;
            {
                std::unique_lock<std::mutex> hold(mutex_);
                idle_ = pending_.empty();
                wake_.wait(hold, [this] { return !pending_.empty(); });
                idle_ = false;
                using std::swap;
                swap(batch, pending_);
                upTo = queued_;
            }
            if (!failed) {
                failed = !write_(batch);
            }
            batch.recycle();
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

    const char* const threadName_;
    const Write write_;
    std::mutex mutex_;
    std::condition_variable wake_;     // entries are pending (for the writer)
    std::condition_variable written_;  // a batch was handled (for flush)
    Batch pending_;
    std::uint64_t queued_ = 0;   // entries added so far
    std::uint64_t handled_ = 0;  // of those, written or dropped
    bool failed_ = false;        // the sink failed
    bool idle_ = false;          // the writer waits for entries (add wakes it)
    int flushing_ = 0;           // flush calls waiting for the writer
};

}  // namespace tarvo::detail
