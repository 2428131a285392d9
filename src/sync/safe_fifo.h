// A queue handed between threads: producers push, one consumer takes from the front.
#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <mutex>

namespace orvel {

template <typename T>
class safe_fifo {
public:
    void push(T value) {
        std::lock_guard<std::mutex> lock(mutex_);
        items_.push_back(std::move(value));
        count_.store(items_.size(), std::memory_order_release);
    }

    // Moves the front element out; false when the queue is empty.
    bool pop(T& out) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (items_.empty()) {
            return false;
        }
        out = std::move(items_.front());
        items_.pop_front();
        count_.store(items_.size(), std::memory_order_release);
        return true;
    }

    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        items_.clear();
        count_.store(0, std::memory_order_release);
    }

    // Read without the lock, so a consumer can look before it tries.
    std::size_t size() const { return count_.load(std::memory_order_acquire); }
    bool empty() const { return size() == 0; }

private:
    std::mutex mutex_;
    std::deque<T> items_;
    std::atomic<std::size_t> count_{0};
};

}  // namespace orvel
