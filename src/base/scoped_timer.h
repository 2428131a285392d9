// Logs how long a step took: made at its start, it logs "<name> <ms>ms" at level 5 when the
// step ends, whichever way it ends.
#pragma once

#include <chrono>
#include <string>

namespace orvel {

class scoped_timer {
public:
    explicit scoped_timer(std::string name);
    ~scoped_timer();
    scoped_timer(const scoped_timer&) = delete;
    scoped_timer& operator=(const scoped_timer&) = delete;

private:
    std::string name_;
    std::chrono::system_clock::time_point start_;
};

}  // namespace orvel
