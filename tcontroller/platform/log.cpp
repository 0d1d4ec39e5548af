#include "tcontroller/platform/log.h"

#include <cstdio>
#include <mutex>

namespace tarvo {
namespace {
std::mutex& logMutex() {
    static std::mutex m;
    return m;
}
LogTap& tap() {
    static LogTap t;
    return t;
}
}  // namespace

void logLine(std::string_view line) {
    std::lock_guard<std::mutex> hold(logMutex());
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    if (tap()) {
        tap()(std::string(line));
    }
}

void setLogTap(LogTap t) {
    std::lock_guard<std::mutex> hold(logMutex());
    tap() = std::move(t);
}

}  // namespace tarvo
