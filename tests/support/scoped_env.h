// An environment variable set for one scope, and put back as it was afterwards.
#pragma once

#include <cstdlib>
#include <string>

namespace orvel::test {

class scoped_env {
public:
    // A null value unsets the variable.
    scoped_env(const char* name, const char* value) : name_(name) {
        const char* old = std::getenv(name);
        had_ = old != nullptr;
        old_ = had_ ? old : "";
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    scoped_env(const char* name, const std::string& value) : scoped_env(name, value.c_str()) {}
    ~scoped_env() {
        if (had_) {
            ::setenv(name_.c_str(), old_.c_str(), 1);
        } else {
            ::unsetenv(name_.c_str());
        }
    }
    scoped_env(const scoped_env&) = delete;
    scoped_env& operator=(const scoped_env&) = delete;

private:
    std::string name_;
    std::string old_;
    bool had_ = false;
};

}  // namespace orvel::test
