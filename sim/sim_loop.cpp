#include "sim/sim_loop.h"
#include "tcontroller/base/result.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarvo::sim {

SimLoop::SimLoop(int watchFd, std::function<void()> onWatchReadable)
    : wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      watchFd_(watchFd),
      onWatchReadable_(std::move(onWatchReadable)) {
    if (wakeFd_ < 0) {
        throw std::runtime_error(std::string("virtual controller loop: eventfd: ") +
                                 tarvo::errnoText(errno));
    }
}

SimLoop::~SimLoop() {
    ::close(wakeFd_);
}

void SimLoop::post(std::chrono::milliseconds delay, std::function<void()> step) {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        steps_.emplace(Clock::now() + delay, std::move(step));
    }
    wake();
}

void SimLoop::stop() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        stopped_ = true;
    }
    wake();
}

void SimLoop::run() {
    std::unique_lock<std::mutex> hold(mutex_);
    while (!stopped_) {
        std::vector<std::function<void()>> due;
        const auto now = Clock::now();
        while (!steps_.empty() && steps_.begin()->first <= now) {
            due.push_back(std::move(steps_.begin()->second));
            steps_.erase(steps_.begin());
        }
        int timeoutMs = -1;
        if (due.empty() && !steps_.empty()) {
            const auto wait =
                std::chrono::ceil<std::chrono::milliseconds>(steps_.begin()->first - now);
            timeoutMs = static_cast<int>(std::clamp<long long>(wait.count(), 1, INT_MAX));
        }
        hold.unlock();
        if (!due.empty()) {
            for (auto& step : due) {
                step();
            }
        } else {
            pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {watchFd_, POLLIN, 0}};
            if (::poll(fds, 2, timeoutMs) > 0) {
                if (fds[0].revents & POLLIN) {
                    std::uint64_t count = 0;
                    [[maybe_unused]] auto n = ::read(wakeFd_, &count, sizeof count);
                }
                if (fds[1].revents & POLLIN) {
                    onWatchReadable_();
                }
            }
        }
        hold.lock();
    }
}

void SimLoop::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof one);
}

}  // namespace tarvo::sim
