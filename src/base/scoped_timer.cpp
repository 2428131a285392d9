#include "base/scoped_timer.h"

#include "base/log_hub.h"

namespace orvel {

scoped_timer::scoped_timer(std::string name)
    : name_(std::move(name)), start_(std::chrono::system_clock::now()) {}

scoped_timer::~scoped_timer() {
    const std::chrono::duration<double, std::milli> elapsed =
        std::chrono::system_clock::now() - start_;
    log(5, "%s %.0fms", name_.c_str(), elapsed.count());
}

}  // namespace orvel
