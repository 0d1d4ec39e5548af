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
    std::lock_guard<std::mutex> hold(logMutex());
    tap() = std::move(t);
}

}  // namespace tarvo
