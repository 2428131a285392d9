#include "base/events.h"

#include <algorithm>
#include <chrono>

namespace orvel {

std::uint32_t next_backoff_delay(backoff_record& record) {
    const std::uint32_t steps = std::min(record.steps, record.max_steps);
    record.steps = steps + 1;
    return record.base_ms + record.step_ms * steps;
}

bool event_base::wait(backoff_record& record) {
    return wait(next_backoff_delay(record));
}

bool event::wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return flag_; });
    return true;
}

bool event::wait(std::uint32_t milliseconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                             [this] { return flag_; });
}

bool event::is_set() {
    std::lock_guard<std::mutex> lock(mutex_);
    return flag_;
}

void event::set() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        flag_ = true;
        // Under the lock, so that unlink() cannot return while a linked event is being set.
        for (event* other : linked_) {
            other->set();
        }
    }
    changed_.notify_all();
}

void event::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    flag_ = false;
}

void event::link(event& other) {
    std::lock_guard<std::mutex> lock(mutex_);
    linked_.push_back(&other);
}

void event::unlink(event& other) {
    std::lock_guard<std::mutex> lock(mutex_);
    linked_.erase(std::remove(linked_.begin(), linked_.end(), &other), linked_.end());
}

}  // namespace orvel
