// The log's writer thread against standard output replaced by a pipe: a
// drained pipe and one nobody reads (with the support log file); and how text
// from outside is escaped for a log line. (A reader that has gone: the demo's
// stdout_closed run, which goes on by the log's tap.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/temp_files.h"
#include "support/test_support.h"
#include "tcontroller/base/log.h"
#include "tcontroller/base/log_file.h"
#include "tcontroller/base/ticks.h"

namespace tarvo {
namespace {

// Standard output goes into a pipe while this lives. Nothing else may write
// to standard output meanwhile (a failed EXPECT would, and could block on a
// full pipe), so the tests check their results after restore().
class StdoutPipe {
  public:
    StdoutPipe() {
        flushLog(10);  // earlier lines belong on the real standard output
        std::fflush(stdout);
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            return;
        }
        ::fcntl(fds[1], F_SETPIPE_SZ, 4096);  // the smallest pipe: easy to fill
        saved_ = ::dup(STDOUT_FILENO);
        ::dup2(fds[1], STDOUT_FILENO);
        ::close(fds[1]);
        readEnd_ = fds[0];
    }
    ~StdoutPipe() {
        restore();
        if (readEnd_ >= 0) {
            ::close(readEnd_);
        }
    }
    bool ok() const { return readEnd_ >= 0; }
    // Reads on a thread of its own until the pipe's last write end closes.
    void startDraining() {
        drainer_ = std::thread([this] {
            char buffer[4096];
            ssize_t n;
            while ((n = ::read(readEnd_, buffer, sizeof buffer)) > 0) {
                out_.append(buffer, static_cast<std::size_t>(n));
            }
        });
    }
    // The real standard output is back; returns what the pipe carried.
    std::string restore() {
        if (saved_ >= 0) {
            flushLog(10);
            std::fflush(stdout);
            ::dup2(saved_, STDOUT_FILENO);
            ::close(saved_);
            saved_ = -1;
        }
        if (drainer_.joinable()) {
            drainer_.join();
        }
        return out_;
    }

  private:
    int saved_ = -1;
    int readEnd_ = -1;
    std::thread drainer_;
    std::string out_;
};

// Without a tap (the tool itself) the lines pass the queue untouched and the
// report writes are written out by the log's own thread: many threads, far
// more lines than the queue holds at once, each thread's lines in its order,
// none lost, every write line with its duration and code.
TEST(LogWriter, QueuedLinesAndReportWritesReachStdoutInEachThreadsOrder) {
    StdoutPipe pipe;
    ASSERT_TRUE(pipe.ok());
    pipe.startDraining();
    constexpr int kThreads = 4;
    constexpr int kLines = 6000;
    // 1.5 ms in ticks, however fast the counter runs.
    const auto span = static_cast<std::uint64_t>(0.0015 / ticks::secondsPerTick() + 0.5);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, span] {
            for (int i = 0; i < kLines; ++i) {
                if (i % 2 == 0) {
                    logLine("thread " + std::to_string(t) + " line " + std::to_string(i));
                } else {
                    const std::uint64_t start = ticks::now();
                    logWrite(start, start + span, static_cast<unsigned>(t * kLines + i));
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const bool flushed = flushLog(10);
    std::istringstream out(pipe.restore());
    EXPECT_TRUE(flushed);

    std::vector<int> next(kThreads, 0);
    std::string line;
    int lines = 0;
    while (std::getline(out, line)) {
        ++lines;
        int thread = -1;
        int index = -1;
        if (line.starts_with("thread ")) {
            ASSERT_EQ(std::sscanf(line.c_str(), "thread %d line %d", &thread, &index), 2) << line;
        } else {
            double seconds = 0;
            unsigned code = 0;
            ASSERT_EQ(
                std::sscanf(line.c_str(), "write spend: %lf - return code: %x", &seconds, &code), 2)
                << line;
            // Seconds with nine decimals ("0.001500000").
            EXPECT_EQ(line.find(" - "), kFrameLinePrefix.size() + 11) << line;
            // The counter's rate is still being measured this early in a run.
            EXPECT_NEAR(seconds, 0.0015, 0.0015 * 0.01) << line;
            thread = static_cast<int>(code) / kLines;
            index = static_cast<int>(code) % kLines;
        }
        ASSERT_TRUE(thread >= 0 && thread < kThreads) << line;
        ASSERT_EQ(index, next[thread]) << line;
        ++next[thread];
    }
    EXPECT_EQ(lines, kThreads * kLines);
}

// A reader that does not read fills the pipe: logging goes on, flushLog gives
// up, the support log file still gets every line meanwhile, and once the
// reader reads every line arrives in order.
TEST(LogWriter, BlockedStdoutNeitherStallsLoggingNorHoldsBackTheFileNorLosesLines) {
    test::TempDir dir;
    const Result<std::string> started = startLogFile(dir.path().string());
    ASSERT_TRUE(started.ok()) << started.error;
    const auto fileLines = [&] {  // how many, and the last
        std::ifstream in(*started.value);
        std::size_t count = 0;
        std::string last;
        for (std::string line; std::getline(in, line); ++count) {
            last = line;
        }
        return std::pair(count, last);
    };
    test::LogCapture tap;
    StdoutPipe pipe;
    ASSERT_TRUE(pipe.ok());
    const std::string dashes(60, '-');
    for (int i = 0; i < 1000; ++i) {  // about 70 KB, far more than the pipe holds
        logLine("line " + std::to_string(i) + dashes);
    }
    const bool flushedWhileBlocked = flushLog(0.2);
    bool inFile = false;
    for (int wait = 0; wait < 1000 && !inFile; ++wait) {
        inFile = fileLines().second.ends_with("line 999" + dashes);
        if (!inFile) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    pipe.startDraining();
    const bool flushed = flushLog(10);
    const std::string out = pipe.restore();
    stopLogFile();
    EXPECT_FALSE(flushedWhileBlocked);
    EXPECT_TRUE(inFile);
    EXPECT_TRUE(flushed);
    std::string expected;
    for (const auto& line : tap.lines()) {
        expected += line + '\n';
    }
    EXPECT_EQ(out, expected);
    EXPECT_EQ(fileLines().first, 1000u);
}

// Text from outside, made safe for one log line: printable ASCII stays as it
// is; every other byte, and the backslash itself, becomes \xNN. Without the
// backslash a server's text "\x41" would read back as "A".
TEST(LogEscape, BytesOutsidePrintableAsciiAndTheBackslashAreWrittenAsHex) {
    struct Case {
        std::string_view text;
        std::string_view escaped;
    };
    const Case cases[] = {
        {"ver:1.3, FW:1.2 ~!", "ver:1.3, FW:1.2 ~!"},
        {"a\nfw update successed\r", "a\\x0Afw update successed\\x0D"},
        {std::string_view("\0\x7f", 2), "\\x00\\x7F"},
        {"\\x41", "\\x5Cx41"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(escapeForLog(c.text), c.escaped) << c.escaped;
    }
}

}  // namespace
}  // namespace tarvo
