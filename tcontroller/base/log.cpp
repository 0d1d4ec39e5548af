#include "tcontroller/base/log.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <mutex>
#include <thread>

#include "tcontroller/base/log_file.h"
#include "tcontroller/base/log_stdout.h"
#include "tcontroller/base/recent_lines.h"
#include "tcontroller/base/ticks.h"

namespace tarvo {
namespace {

// How long the exit hook waits for queued lines before the process ends anyway
// (standard output may be a pipe nobody reads).
constexpr double kExitFlushSeconds = 2.0;

// One line on its way from a thread that logs to the dispatcher: a line of
// text, or the record of one report write, whose line the dispatcher writes
// (formatting a number costs more than the whole record). A slot of its own
// cache line, so a thread filling one never slows the dispatcher reading the
// one before.
struct alignas(64) Entry {
    std::atomic<std::uint64_t> published{0};  // its position + 1 once filled
    std::uint64_t ticks = 0;                  // when logged (a write: when it ended)
    std::uint64_t spanTicks = 0;              // a write: how long it took
    unsigned code = 0;                        // a write: the platform's return code
    bool write = false;
    bool printOnly = false;  // a front end's own line, for standard output only
    bool lastPrint = false;  // after it, standard output gets no more lines
    std::string text;        // the line; its buffer is kept for the next use of the slot
};

// How standard output shows the log's lines (a StdoutStyle).
std::atomic<int> stdoutStyle{0};

// "write spend: <seconds> - return code: <code>" for a write of `spanTicks`.
std::string_view formatWrite(std::uint64_t spanTicks, unsigned code, double secondsPerTick,
                             char (&line)[96]) {
    static constexpr std::string_view kCode = " - return code: ";
    char* const end = line + sizeof line;
    char* at = std::copy(kFrameLinePrefix.begin(), kFrameLinePrefix.end(), line);
    // Seconds with nine decimals, from whole nanoseconds.
    const auto nanos = static_cast<std::uint64_t>(
        std::llround(static_cast<double>(spanTicks) * secondsPerTick * 1e9));
    at = std::to_chars(at, end, nanos / 1000000000u).ptr;
    *at++ = '.';
    char digits[9];
    std::uint64_t rest = nanos % 1000000000u;
    for (int k = 8; k >= 0; --k) {
        digits[k] = static_cast<char>('0' + rest % 10);
        rest /= 10;
    }
    at = std::copy(std::begin(digits), std::end(digits), at);
    at = std::copy(kCode.begin(), kCode.end(), at);
    at = std::to_chars(at, end, code, 16).ptr;
    return {line, static_cast<std::size_t>(at - line)};
}

// Every line logged passes through here: the threads that log claim a slot
// of a ring, fill it and publish it, which takes no lock; a dispatcher thread
// takes the lines in the order their slots were claimed, writes each one out,
// and hands them to standard output's writer, the support log's writer and
// the recent lines, several at a time. Logging thus costs the thread that logs
// (the USB transfer among them) a few nanoseconds, and neither a slow reader
// of standard output nor a slow disk holds it up: only a ring filled faster
// than the dispatcher empties it makes a thread wait for a free slot, and
// nothing is dropped.
//
// The dispatcher wakes for the first line after a quiet spell, then lets
// lines gather for a moment between rounds, so a burst (a line per USB frame)
// neither wakes it per line nor costs the threads that log a system call.
// Like the writers, created on first use and never destroyed.
class LogQueue {
  public:
    static LogQueue& instance() {
        static LogQueue* const queue = new LogQueue;
        return *queue;
    }

    void pushText(std::string_view line, bool printOnly = false, bool lastPrint = false) {
        push([line, printOnly, lastPrint](Entry& entry) {
            entry.write = false;
            entry.printOnly = printOnly;
            entry.lastPrint = lastPrint;
            entry.ticks = ticks::now();
            entry.text.assign(line);
        });
    }

    void pushWrite(std::uint64_t startTicks, std::uint64_t endTicks, unsigned code) {
        push([=](Entry& entry) {
            entry.write = true;
            entry.printOnly = false;
            entry.lastPrint = false;
            entry.ticks = endTicks;
            entry.spanTicks = endTicks - startTicks;
            entry.code = code;
        });
    }

    // Waits until every line pushed before the call was handed on.
    bool dispatch(std::chrono::steady_clock::time_point deadline) {
        const std::uint64_t target = tail_.load();
        std::unique_lock<std::mutex> hold(mutex_);
        if (dispatched_ >= target) {
            return true;
        }
        ++flushing_;
        wake_.notify_one();
        const bool done = handed_.wait_until(hold, deadline, [&] { return dispatched_ >= target; });
        --flushing_;
        return done;
    }

  private:
    static constexpr std::uint64_t kSlots = 8192;
    // A line longer than this gives its slot's buffer back once dispatched.
    static constexpr std::size_t kKeptLineBytes = 256;

    LogQueue() : slots_(new Entry[kSlots]) {
        std::thread([this] { run(); }).detach();
        // Registered with the first line, so no line logged before a normal
        // exit is lost.
        std::atexit([] { flushLog(kExitFlushSeconds); });
    }

    template <typename Fill>
    void push(const Fill& fill) {
        const std::uint64_t position = tail_.fetch_add(1);
        std::uint64_t head = head_.load(std::memory_order_acquire);
        if (position - head >= kSlots) {
            head = waitForSlot(position);
        }
        Entry& entry = slots_[position % kSlots];
        fill(entry);
        entry.published.store(position + 1, std::memory_order_release);
        // The claim above and this check pair with the dispatcher's going idle
        // (both sequentially consistent): either it sees the claim, or this
        // sees it idle and wakes it. A ring half full wakes it early.
        if (idle_.load() ||
            (position - head >= kSlots / 2 && !nudged_.load(std::memory_order_relaxed))) {
            wakeDispatcher();
        }
    }

    std::uint64_t waitForSlot(std::uint64_t position) {
        wakeDispatcher();
        std::uint64_t head = head_.load(std::memory_order_acquire);
        while (position - head >= kSlots) {
            head_.wait(head, std::memory_order_acquire);
            head = head_.load(std::memory_order_acquire);
        }
        return head;
    }

    void wakeDispatcher() {
        {
            std::lock_guard<std::mutex> hold(mutex_);
            idle_.store(false);
            nudged_.store(true, std::memory_order_relaxed);
        }
        wake_.notify_one();
    }

    void run() {
        pthread_setname_np(pthread_self(), "tarvo-log-queue");
        std::uint64_t head = 0;
        for (;;) {
            {
                std::unique_lock<std::mutex> hold(mutex_);
                if (tail_.load() == head) {
                    // Nothing since the last round: sleep until a line comes.
                    idle_.store(true);
                    if (tail_.load() == head) {
                        wake_.wait(hold, [this] { return !idle_.load() || flushing_ > 0; });
                    }
                    idle_.store(false);
                }
                nudged_.store(false, std::memory_order_relaxed);
            }
            head = drain(head);
            std::unique_lock<std::mutex> hold(mutex_);
            dispatched_ = head;
            handed_.notify_all();
            wake_.wait_for(hold, detail::kLogGatherInterval, [this] {
                return flushing_ > 0 || nudged_.load(std::memory_order_relaxed);
            });
        }
    }

    // Hands on every line claimed so far, in order; returns the new head.
    std::uint64_t drain(std::uint64_t head) {
        const std::uint64_t end = tail_.load();
        if (head == end) {
            return head;
        }
        const double secondsPerTick = ticks::secondsPerTick();
        const bool toFile = detail::logFileOpen();
        // Counter readings of the last moments to wall-clock time, for the file.
        const std::uint64_t nowTicks = ticks::now();
        const auto nowWall = std::chrono::system_clock::now();
        const auto wallTime = [&](std::uint64_t reading) {
            const double ago =
                nowTicks > reading ? static_cast<double>(nowTicks - reading) * secondsPerTick : 0;
            return nowWall - std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                 std::chrono::duration<double>(ago));
        };
        std::uint64_t lines = 0;
        for (; head < end; ++head) {
            Entry& entry = slots_[head % kSlots];
            // Claimed but still being filled: its thread is a moment away.
            while (entry.published.load(std::memory_order_acquire) != head + 1) {
                std::this_thread::yield();
            }
            char formatted[96];
            const std::string_view line =
                entry.write ? formatWrite(entry.spanTicks, entry.code, secondsPerTick, formatted)
                            : std::string_view(entry.text);
            const auto style =
                static_cast<StdoutStyle>(stdoutStyle.load(std::memory_order_relaxed));
            if (entry.printOnly || style == StdoutStyle::plain) {
                out_.append(line);
                out_.push_back('\n');
                ++lines;
                if (entry.lastPrint) {
                    stdoutStyle.store(static_cast<int>(StdoutStyle::quiet));
                }
            } else if (style == StdoutStyle::json) {
                out_.append(R"({"event":"log","line":)");
                appendJsonString(out_, line);
                out_.append("}\n");
                ++lines;
            }
            if (!entry.printOnly) {
                if (toFile) {
                    detail::queueForLogFile(line, wallTime(entry.ticks));
                }
                recentLogLines().add(line);
            }
            if (entry.text.capacity() > kKeptLineBytes) {
                std::string().swap(entry.text);
            }
            // Free the slots now and then, so a long round never keeps a
            // thread waiting for one.
            if ((head + 1) % 1024 == 0) {
                release(head + 1, lines);
                lines = 0;
            }
        }
        release(head, lines);
        return head;
    }

    // Passes the lines written so far on to standard output's writer and frees
    // their slots.
    void release(std::uint64_t head, std::uint64_t lines) {
        if (lines > 0) {
            detail::queueForStdout(out_, lines);
        }
        if (out_.capacity() > detail::kLogKeptBufferBytes) {
            std::string().swap(out_);
        } else {
            out_.clear();
        }
        head_.store(head, std::memory_order_release);
        head_.notify_all();
    }

    std::unique_ptr<Entry[]> slots_;
    alignas(64) std::atomic<std::uint64_t> tail_{0};  // the next position to claim
    alignas(64) std::atomic<std::uint64_t> head_{0};  // positions below are free again
    alignas(64) std::atomic<bool> idle_{false};       // the dispatcher sleeps until woken
    std::atomic<bool> nudged_{false};                 // woken during its pause between rounds
    std::mutex mutex_;
    std::condition_variable wake_;    // for the dispatcher
    std::condition_variable handed_;  // a round was handed on (for dispatch)
    std::uint64_t dispatched_ = 0;    // positions handed on
    int flushing_ = 0;                // dispatch calls waiting
    std::string out_;                 // the dispatcher's lines for standard output
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
// lock, and the queue alone keeps the lines in order.
std::atomic<bool> tapSet{false};

void showToTap(std::string_view line) {
    if (tap()) {
        tap()(std::string(line));
    }
}
}  // namespace

void logLine(std::string_view line) {
    if (!tapSet.load(std::memory_order_acquire)) {
        LogQueue::instance().pushText(line);
        return;
    }
    std::lock_guard<std::mutex> hold(tapMutex());
    LogQueue::instance().pushText(line);
    showToTap(line);
}

void logWrite(std::uint64_t startTicks, std::uint64_t endTicks, unsigned code) {
    if (!tapSet.load(std::memory_order_acquire)) {
        LogQueue::instance().pushWrite(startTicks, endTicks, code);
        return;
    }
    // The tap and standard output see the same text: it is written here once.
    char formatted[96];
    const std::string_view line =
        formatWrite(endTicks - startTicks, code, ticks::secondsPerTick(), formatted);
    std::lock_guard<std::mutex> hold(tapMutex());
    LogQueue::instance().pushText(line);
    showToTap(line);
}

void printLine(std::string_view line) {
    LogQueue::instance().pushText(line, true);
}

void printLastLine(std::string_view line) {
    LogQueue::instance().pushText(line, true, true);
}

void setStdoutStyle(StdoutStyle style) {
    stdoutStyle.store(static_cast<int>(style));
}

void appendJsonString(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out.push_back('"');
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (byte < 0x20 || byte == 0x7F) {
            out.append("\\u00");
            out.push_back(kHex[byte >> 4]);
            out.push_back(kHex[byte & 0xF]);
        } else {
            out.push_back(c);
        }
    }
    out.push_back('"');
}

bool dispatchLog(double timeoutSeconds) {
    return LogQueue::instance().dispatch(detail::deadlineAfter(timeoutSeconds));
}

bool flushLog(double timeoutSeconds) {
    const auto deadline = detail::deadlineAfter(timeoutSeconds);
    const bool dispatched = LogQueue::instance().dispatch(deadline);
    const bool inFile = detail::flushLogFile(deadline);
    return detail::flushStdout(deadline) && dispatched && inFile;
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
