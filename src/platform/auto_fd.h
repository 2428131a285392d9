// An owned file descriptor, closed when its owner goes.
#pragma once

namespace orvel::platform {

class auto_fd {
public:
    auto_fd() = default;
    explicit auto_fd(int fd) : fd_(fd) {}
    virtual ~auto_fd() { reset(); }
    auto_fd(const auto_fd&) = delete;
    auto_fd& operator=(const auto_fd&) = delete;
    auto_fd(auto_fd&& other) noexcept : fd_(other.release()) {}
    auto_fd& operator=(auto_fd&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Gives the descriptor up without closing it.
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes the owned descriptor (keeping errno) and takes another one.
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

}  // namespace orvel::platform
