// Manual flags by which the agent's threads ask each other to stop.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace orvel {

// A growing wait: base + step * min(steps, max_steps) milliseconds.
struct backoff_record {
    std::uint32_t base_ms;
    std::uint32_t step_ms;
    std::uint32_t max_steps;
    std::uint32_t steps;
};

// The delay of the next back-off wait; counts the step in the record.
std::uint32_t next_backoff_delay(backoff_record& record);

class event_base {
public:
    // Waits until the flag is set; true once it is.
    virtual bool wait() = 0;
    // True when the flag is or becomes set within the time, false on time-out.
    virtual bool wait(std::uint32_t milliseconds) = 0;
    virtual bool wait(backoff_record& record);
    virtual ~event_base() = default;
};

class event : public event_base {
public:
    bool wait() override;
    bool wait(std::uint32_t milliseconds) override;
    using event_base::wait;
    virtual bool is_set();

    void set();
    void clear();

    // While linked, setting this event sets `other` too, so that one thread can sleep on a
    // single event until any of several things happens. Links must not form a cycle.
    void link(event& other);
    // Once it returns, no set() of this event reaches `other` any more.
    void unlink(event& other);

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool flag_ = false;
    std::vector<event*> linked_;
};

// Stands in where an operation must not be interruptible: it never fires and never waits.
class empty_event : public event_base {
public:
    bool wait() override { return false; }
    bool wait(std::uint32_t) override { return false; }
    using event_base::wait;
};

}  // namespace orvel
