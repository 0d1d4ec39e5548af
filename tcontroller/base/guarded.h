#pragma once

#include <mutex>
#include <utility>

namespace tarvo {

// A value whose every read and write is indivisible: strings, buffers and
// records shared between the GUI thread, the HID thread and the work queues.
// Reads return a copy, so no caller ever holds a reference into shared state.
template <typename T>
class Guarded {
  public:
    Guarded() = default;
    explicit Guarded(T value) : value_(std::move(value)) {}
    Guarded(const Guarded&) = delete;
    Guarded& operator=(const Guarded&) = delete;

    T get() const {
        std::lock_guard<std::mutex> hold(mutex_);
        return value_;
    }
    void set(T value) {
        T old;
        {
            std::lock_guard<std::mutex> hold(mutex_);
            old = std::exchange(value_, std::move(value));
        }
        // `old` is destroyed outside the lock: a large buffer frees without blocking readers.
    }
    // Runs fn on the value under the lock and returns its result.
    template <typename Fn>
    auto with(Fn&& fn) const {
        std::lock_guard<std::mutex> hold(mutex_);
        return fn(value_);
    }
    template <typename Fn>
    auto mutate(Fn&& fn) {
        std::lock_guard<std::mutex> hold(mutex_);
        return fn(value_);
    }

  private:
    mutable std::mutex mutex_;
    T value_{};
};

}  // namespace tarvo
