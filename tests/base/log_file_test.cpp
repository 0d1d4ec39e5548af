// The support log file: time-stamped lines, frame lines counted instead of
// copied, rotation that keeps a bounded number of files, the copy of the
// tool's log that the writer thread makes, a file that is private and never
// written through a link, and one that is made again when it goes away. (A
// blocked standard output holding back the file: see log_test.cpp.)
#include "tcontroller/base/log_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
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

// The text of each line, after checking that every line carries a time stamp
// "YYYY-MM-DD HH:MM:SS.mmm " in front of it, digit for digit.
std::vector<std::string> texts(const std::vector<std::string>& lines) {
    static constexpr std::string_view kShape = "0000-00-00 00:00:00.000 ";
    const auto stamped = [](const std::string& line) {
        if (line.size() < kShape.size()) {
            return false;
        }
        for (std::size_t i = 0; i < kShape.size(); ++i) {
            const bool digit = line[i] >= '0' && line[i] <= '9';
            if (kShape[i] == '0' ? !digit : line[i] != kShape[i]) {
                return false;
            }
        }
        return true;
    };
    std::vector<std::string> out;
    for (const auto& line : lines) {
        EXPECT_TRUE(stamped(line)) << "no time stamp: " << line;
        out.push_back(stamped(line) ? line.substr(kShape.size()) : line);
    }
    return out;
}

TEST(LogFile, StampsLinesSummarisesFramesAndRotates) {
    test::TempDir dir;
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
    std::vector<std::string> tail;
    for (int i = std::stoi(all.front().substr(5)); i < 600; ++i) {
        tail.push_back("line " + std::to_string(i));
    }
    EXPECT_EQ(all, tail);

    // The frames, before rotation took them: a fresh file with a large limit.
    const std::string framesPath = (dir.path() / "frames.log").string();
    {
        LogFile file(framesPath, {});
        const auto now = std::chrono::system_clock::now();
        file.write("begin image update", now);
        for (int i = 1; i <= 2500; ++i) {
            file.write("write spend: 0.001 - return code: " + std::to_string(i), now);
        }
        file.write("end image update", now);
    }
    const auto summary = [](int code, int count) {
        return "write spend: 0.001 - return code: " + std::to_string(code) + " (" +
               std::to_string(count) + " frame writes, the last of them shown)";
    };
    EXPECT_EQ(
        texts(readLines(framesPath)),
        (std::vector<std::string>{"begin image update", summary(1000, 1000), summary(2000, 1000),
                                  summary(2500, 500), "end image update"}));
}

mode_t modeOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

// logLine's lines reach the file through the writer thread, after the lines
// that were in it already (the file is appended to, never emptied on start).
// The file and the folders made for it are their owner's only, whatever the
// umask, and a folder and file an earlier version left open to others are closed.
TEST(LogFile, TheToolsLogIsAppendedToAPrivateFileUntilStopped) {
    test::TempDir dir;
    const fs::path state = dir.path() / "state";
    const std::string folder = (state / "tarvo-remote-update").string();
    const mode_t savedMask = ::umask(0);
    Result<std::string> started = startLogFile(folder);
    stopLogFile();
    ::umask(savedMask);
    ASSERT_TRUE(started.ok()) << started.error;
    EXPECT_EQ(*started.value, folder + "/" + kLogFileName);
    EXPECT_EQ(modeOf(state), 0700u);
    EXPECT_EQ(modeOf(*started.value), 0600u);

    fs::permissions(folder, fs::perms(0755));
    { std::ofstream(*started.value) << "2020-01-01 00:00:00.000 earlier run\n"; }
    fs::permissions(*started.value, fs::perms(0644));
    started = startLogFile(folder);
    ASSERT_TRUE(started.ok()) << started.error;
    logLine("hid connect");
    logLine("model: T, fw: 1.1, sta: none");
    stopLogFile();
    logLine("after the file was closed");
    flushLog(10);
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(modeOf(*started.value), 0600u);
    EXPECT_EQ(
        texts(readLines(*started.value)),
        (std::vector<std::string>{"earlier run", "hid connect", "model: T, fw: 1.1, sta: none"}));

    // A folder that cannot be made is an error, not a crash.
    const Result<std::string> refused = startLogFile(*started.value + "/sub");
    EXPECT_FALSE(refused.ok());
    EXPECT_NE(refused.error.find("cannot create"), std::string::npos) << refused.error;
}

// The tool may run with another user's environment (sudo -E): a link at the
// log's folder is refused with the link named, and nothing is written through
// it. (A link at the file's own path: AFileMovedOrDeletedWhileLoggingIsMadeAgain.)
TEST(LogFile, ALinkAtTheFolderIsNeverWrittenThrough) {
    test::TempDir dir;
    const fs::path real = dir.path() / "real";
    fs::create_directories(real);
    const fs::path linked = dir.path() / "linked";
    fs::create_directory_symlink(real, linked);
    const Result<std::string> refused = startLogFile(linked.string());
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error, linked.string() + " is a symbolic link");
    logLine("not for the linked folder");
    flushLog(10);
    EXPECT_TRUE(fs::is_empty(real));
}

// A log file moved away or deleted while the tool runs (and its folder too)
// does not swallow the rest of the session: the next lines go to a new file
// at the path, the moved file keeps the earlier ones. A link put in the
// file's place is not followed when the path is opened again.
TEST(LogFile, AFileMovedOrDeletedWhileLoggingIsMadeAgain) {
    test::TempDir dir;
    const fs::path folder = dir.path() / "log";
    const Result<std::string> started = startLogFile(folder.string());
    ASSERT_TRUE(started.ok()) << started.error;
    const std::string& path = *started.value;
    const auto logged = [&](const std::string& line) {
        logLine(line);
        flushLog(10);
        return texts(readLines(path));
    };
    using Lines = std::vector<std::string>;
    logLine("first");
    flushLog(10);
    const fs::path moved = dir.path() / "moved.log";
    fs::rename(path, moved);
    EXPECT_EQ(logged("second"), Lines{"second"});
    EXPECT_EQ(texts(readLines(moved.string())), Lines{"first"});

    fs::remove(path);
    EXPECT_EQ(logged("third"), Lines{"third"});
    fs::remove_all(folder);
    EXPECT_EQ(logged("fourth"), Lines{"fourth"});  // made as at the start (modes: above)

    const fs::path aside = dir.path() / "aside.log";
    const fs::path target = dir.path() / "target";
    { std::ofstream(target) << "kept\n"; }
    fs::rename(path, aside);
    fs::create_symlink(target, path);
    logLine("fifth, dropped");
    flushLog(10);
    EXPECT_EQ(readLines(target.string()), Lines{"kept"});
    EXPECT_EQ(texts(readLines(aside.string())), Lines{"fourth"});
    fs::remove(path);
    EXPECT_EQ(logged("sixth"), Lines{"sixth"});
    stopLogFile();
}

}  // namespace
}  // namespace tarvo
