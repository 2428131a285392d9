// A queue handed between threads: producers push, one consumer takes from the front.
#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <mutex>

#include "base/events.h"

namespace orvel {

template <typename T>
class safe_fifo {
public:
    void push(T value) {
        std::lock_guard<std::mutex> lock(mutex_);
        items_.push_back(std::move(value));
        count_.store(items_.size(), std::memory_order_release);
        if (arrival_ != nullptr) {
            arrival_->set();
        }
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

    // Every push from now on sets the event (none when null), so the consumer can sleep until
    // there is something to take. Once it returns, no push reaches the previous event.
    void set_arrival_event(event* arrival) {
        std::lock_guard<std::mutex> lock(mutex_);
        arrival_ = arrival;
    }

    // Read without the lock, so a consumer can look before it tries.
    std::size_t size() const { return count_.load(std::memory_order_acquire); }
    bool empty() const { return size() == 0; }

private:
    std::mutex mutex_;
    std::deque<T> items_;
    std::atomic<std::size_t> count_{0};
    event* arrival_ = nullptr;
};

}  // namespace orvel
