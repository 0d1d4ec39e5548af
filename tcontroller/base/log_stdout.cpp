#include "tcontroller/base/log_stdout.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <string>

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

// Whole lines on their way to standard output, each ending in '\n'.
struct Lines {
    std::string text;

    bool empty() const { return text.empty(); }
    void recycle() {
        if (text.capacity() > kLogKeptBufferBytes) {
            std::string().swap(text);
        } else {
            text.clear();
        }
    }
    friend void swap(Lines& a, Lines& b) noexcept { a.text.swap(b.text); }
};

// The writer of standard output ("tarvo-log"): each batch is written in one go
// and goes out at once, so support can read the log live. After one failed
// write standard output is gone for good and later lines are dropped.
BatchWriter<Lines>& writer() {
    static auto* const w =
        new BatchWriter<Lines>("tarvo-log", [](Lines& lines) { return writeAll(lines.text); });
    return *w;
}

}  // namespace

void queueForStdout(std::string_view text, std::uint64_t lines) {
    writer().add(lines, [text](Lines& pending) { pending.text.append(text); });
}

bool flushStdout(std::chrono::steady_clock::time_point deadline) {
    return writer().flush(deadline);
}

}  // namespace tarvo::detail
