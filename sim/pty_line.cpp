#include "sim/pty_line.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <utility>

namespace orvel::test {

namespace {

using namespace std::chrono_literals;

// Longer than the quiet time (100 ms) that ends one of the agent's port reads.
constexpr auto piece_pause = 150ms;

void make_raw(int fd) {
    termios settings{};
    if (::tcgetattr(fd, &settings) == 0) {
        ::cfmakeraw(&settings);
        ::tcsetattr(fd, TCSANOW, &settings);
    }
}

}  // namespace

pty_line::pty_line(receiver on_bytes) : on_bytes_(std::move(on_bytes)) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        if (master_ >= 0) {
            ::close(master_);
        }
        throw std::runtime_error("no pseudo-terminal");
    }
    char name[128] = {};
    ::ptsname_r(master_, name, sizeof name);
    path_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    // Raw from the start: a line that echoed would send the agent its own commands back.
    make_raw(master_);
    if (slave_ >= 0) {
        make_raw(slave_);
    }
    thread_ = std::thread([this] { run(); });
}

pty_line::~pty_line() {
    stopping_ = true;
    thread_.join();
    hang_up();
}

void pty_line::hang_up() {
    stopping_ = true;
    if (slave_ >= 0) {
        ::close(std::exchange(slave_, -1));
    }
    if (master_ >= 0) {
        ::close(std::exchange(master_, -1));
    }
}

std::string pty_line::port_entry(const std::string& friendly_name) const {
    return friendly_name + " (" + path_ + ")";
}

void pty_line::run() {
    std::uint8_t buffer[8192];
    while (!stopping_) {
        pollfd ready{master_, POLLIN, 0};
        if (::poll(&ready, 1, 20) <= 0 || (ready.revents & POLLIN) == 0) {
            continue;
        }
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
            on_bytes_(buffer, static_cast<std::size_t>(n));
        }
    }
}

void pty_line::send(const std::uint8_t* bytes, std::size_t count, unsigned pieces) {
    pieces = std::max(1u, pieces);
    const std::size_t piece = (count + pieces - 1) / pieces;
    for (std::size_t at = 0; at < count; at += piece) {
        if (at > 0) {
            std::this_thread::sleep_for(piece_pause);
        }
        write_all(bytes + at, std::min(piece, count - at));
    }
}

void pty_line::write_all(const std::uint8_t* bytes, std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + 1s;
    std::size_t sent = 0;
    while (sent < count && std::chrono::steady_clock::now() < deadline) {
        const ssize_t n = ::write(master_, bytes + sent, count - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return;
        } else {
            pollfd ready{master_, POLLOUT, 0};
            ::poll(&ready, 1, 10);
        }
    }
}

}  // namespace orvel::test
