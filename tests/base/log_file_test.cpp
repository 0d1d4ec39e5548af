// The support log file: time-stamped lines, frame lines counted instead of
// copied, rotation that keeps a bounded number of files, and the copy of the
// tool's log that the writer thread makes.
#include "tcontroller/base/log_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/temp_files.h"
#include "tcontroller/base/log.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> readLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// "YYYY-MM-DD HH:MM:SS.mmm " in front of the logged text: the shape of the
// stamp, digit for digit.
constexpr std::string_view kStampShape = "dddd-dd-dd dd:dd:dd.ddd ";

bool stamped(const std::string& line) {
    if (line.size() < kStampShape.size()) {
        return false;
    }
    for (std::size_t i = 0; i < kStampShape.size(); ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(line[i])) != 0;
        if (kStampShape[i] == 'd' ? !digit : line[i] != kStampShape[i]) {
            return false;
        }
    }
    return true;
}

// The text of each line, after checking that every line carries a time stamp.
std::vector<std::string> texts(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (const auto& line : lines) {
        EXPECT_TRUE(stamped(line)) << "no time stamp: " << line;
        out.push_back(stamped(line) ? line.substr(kStampShape.size()) : line);
    }
    return out;
}

TEST(LogFile, StampsLinesSummarisesFramesAndRotates) {
    test::TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string path = (dir.path() / kLogFileName).string();
    const LogFile::Limits limits{.maxBytes = 4000, .keptFiles = 2, .framesPerSummary = 1000};
    {
        LogFile file(path, limits);
        ASSERT_TRUE(file.ok()) << file.error();
        const auto now = std::chrono::system_clock::now();
        // Enough plain lines to fill the file several times over.
        for (int i = 0; i < 600; ++i) {
            file.write("line " + std::to_string(i), now);
        }
    }
    // The current file and two older ones; nothing beyond, none over the limit.
    for (const char* suffix : {"", ".1", ".2"}) {
        ASSERT_TRUE(fs::exists(path + suffix)) << path + suffix;
        EXPECT_LE(fs::file_size(path + suffix), limits.maxBytes) << suffix;
    }
    EXPECT_FALSE(fs::exists(path + ".3"));
    // Read oldest first, the kept lines are one unbroken tail of what was written.
    std::vector<std::string> all;
    for (const char* suffix : {".2", ".1", ""}) {
        const auto part = texts(readLines(path + suffix));
        all.insert(all.end(), part.begin(), part.end());
    }
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.back(), "line 599");
    const int first = std::stoi(all.front().substr(5));
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(all[i], "line " + std::to_string(first + static_cast<int>(i)));
    }

    // The frames, before rotation took them: a fresh file with a large limit.
    test::TempDir other;
    const std::string framesPath = (other.path() / kLogFileName).string();
    {
        LogFile file(framesPath, {});
        const auto now = std::chrono::system_clock::now();
        file.write("begin image update", now);
        for (int i = 1; i <= 2500; ++i) {
            file.write("write spend: 0.001 - return code: " + std::to_string(i), now);
        }
        file.write("end image update", now);
    }
    EXPECT_EQ(texts(readLines(framesPath)),
              (std::vector<std::string>{
                  "begin image update",
                  "write spend: 0.001 - return code: 1000 (1000 frame writes, the last of them "
                  "shown)",
                  "write spend: 0.001 - return code: 2000 (1000 frame writes, the last of them "
                  "shown)",
                  "write spend: 0.001 - return code: 2500 (500 frame writes, the last of them "
                  "shown)",
                  "end image update"}));
}

// logLine's lines reach the file through the writer thread, after the lines
// that were in it already (the file is appended to, never emptied on start).
TEST(LogFile, TheToolsLogIsCopiedToTheFileUntilStopped) {
    test::TempDir dir;
    const std::string folder = (dir.path() / "state/tarvo-remote-update").string();
    fs::create_directories(folder);
    { std::ofstream(folder + "/" + kLogFileName) << "2020-01-01 00:00:00.000 earlier run\n"; }
    const Result<std::string> started = startLogFile(folder);
    ASSERT_TRUE(started.ok()) << started.error;
    EXPECT_EQ(*started.value, folder + "/" + kLogFileName);
    logLine("hid connect");
    logLine("model: T, fw: 1.1, sta: none");
    stopLogFile();
    logLine("after the file was closed");
    flushLog(10);
    EXPECT_EQ(
        texts(readLines(*started.value)),
        (std::vector<std::string>{"earlier run", "hid connect", "model: T, fw: 1.1, sta: none"}));

    // A folder that cannot be made is an error, not a crash.
    const Result<std::string> refused = startLogFile(*started.value + "/sub");
    EXPECT_FALSE(refused.ok());
    EXPECT_NE(refused.error.find("cannot create"), std::string::npos) << refused.error;
}

// A standard output nobody reads fills up and blocks the writer thread; the
// file still gets every line meanwhile.
TEST(LogFile, ABlockedStandardOutputDoesNotHoldBackTheFile) {
    test::TempDir dir;
    const Result<std::string> started = startLogFile(dir.path().string());
    ASSERT_TRUE(started.ok()) << started.error;
    flushLog(10);
    std::fflush(stdout);
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    ::fcntl(fds[1], F_SETPIPE_SZ, 4096);
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(fds[1], STDOUT_FILENO);
    ::close(fds[1]);
    for (int i = 0; i < 1000; ++i) {  // about 70 KB, far more than the pipe holds
        logLine("line " + std::to_string(i) + std::string(60, '-'));
    }
    bool inFile = false;
    for (int wait = 0; wait < 1000 && !inFile; ++wait) {
        const auto lines = readLines(*started.value);
        inFile = !lines.empty() && lines.back().ends_with("line 999" + std::string(60, '-'));
        if (!inFile) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    // Drain the pipe, then give standard output back.
    std::thread drainer([fd = fds[0]] {
        char buffer[4096];
        while (::read(fd, buffer, sizeof buffer) > 0) {
        }
    });
    flushLog(10);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    drainer.join();
    ::close(fds[0]);
    stopLogFile();
    EXPECT_TRUE(inFile);
    EXPECT_EQ(readLines(*started.value).size(), 1000u);
}

TEST(LogFile, FolderFollowsXdgStateHome) {
    const char* saved = std::getenv("XDG_STATE_HOME");
    const std::string restore = saved != nullptr ? saved : "";
    ::setenv("XDG_STATE_HOME", "/var/tmp/state", 1);
    EXPECT_EQ(defaultLogDirectory(), "/var/tmp/state/tarvo-remote-update");
    ::setenv("XDG_STATE_HOME", "relative/ignored", 1);
    const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    EXPECT_EQ(defaultLogDirectory(), home + "/.local/state/tarvo-remote-update");
    if (saved != nullptr) {
        ::setenv("XDG_STATE_HOME", restore.c_str(), 1);
    } else {
        ::unsetenv("XDG_STATE_HOME");
    }
}

}  // namespace
}  // namespace tarvo
