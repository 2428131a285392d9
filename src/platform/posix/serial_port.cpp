#include "platform/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "base/log_hub.h"
#include "platform/auto_fd.h"
#include "platform/system_error.h"

namespace orvel::platform {

namespace {

using steady = std::chrono::steady_clock;
using std::chrono::milliseconds;

bool speed_of(std::uint32_t baud, speed_t& speed) {
    switch (baud) {
        case 460800:
            speed = B460800;
            return true;
        case 115200:
            speed = B115200;
            return true;
        case 57600:
            speed = B57600;
            return true;
        case 38400:
            speed = B38400;
            return true;
        case 9600:
            speed = B9600;
            return true;
        default:
            return false;
    }
}

void log_open_failure(int error) {
    std::string text = error_text(error);
    if (error == EACCES || error == EPERM) {
        // On Debian the serial devices belong to the group "dialout"; the package's udev
        // rule gives the user at the seat the units' bridges.
        text +=
            " (serial ports need the package's udev rule for the seat's user, or"
            " membership of the dialout group)";
    }
    log(3, "%s: %lu. %s", "Create file failed", static_cast<unsigned long>(error), text.c_str());
}

// Milliseconds left until the deadline, rounded up; 0 once it has passed.
int remaining_ms(steady::time_point deadline) {
    const auto left = deadline - steady::now();
    if (left <= steady::duration::zero()) {
        return 0;
    }
    return static_cast<int>(std::chrono::ceil<milliseconds>(left).count());
}

steady::time_point deadline_after(std::uint32_t constant, std::uint32_t multiplier,
                                  std::size_t count) {
    return steady::now() + milliseconds(constant + std::uint64_t{multiplier} * count);
}

// One bounded write call: as many bytes as the port takes before the deadline. error is
// set when the call failed.
std::size_t write_some(int fd, const std::uint8_t* bytes, std::size_t count,
                       steady::time_point deadline, int& error) {
    std::size_t sent = 0;
    while (sent < count) {
        const ssize_t n = ::write(fd, bytes + sent, count - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            error = errno;
            return sent;
        }
        const int wait = remaining_ms(deadline);
        if (wait == 0) {
            return sent;
        }
        pollfd ready{fd, POLLOUT, 0};
        if (::poll(&ready, 1, wait) < 0 && errno != EINTR) {
            error = errno;
            return sent;
        }
    }
    return sent;
}

}  // namespace

struct serial_port::state {
    auto_fd fd;
    std::string path;
    std::uint32_t baud = 0;
    serial_timeouts timeouts;
};

serial_port::serial_port() : state_(std::make_unique<state>()) {}

serial_port::~serial_port() {
    close();
}

bool serial_port::open(const std::string& path, std::uint32_t baud) {
    close();
    // Non-blocking: every wait is a poll that the time-outs bound.
    auto_fd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) {
        log_open_failure(errno);
        return false;
    }
    // No sharing: later openers are refused while the port is ours.
    if (::ioctl(fd.get(), TIOCEXCL) != 0) {
        log_system_error("Create file failed");
        return false;
    }
    termios settings{};
    if (::tcgetattr(fd.get(), &settings) != 0) {
        log_system_error("GetCommState failed (baud rate)");
        return false;
    }
    speed_t speed = B0;
    if (!speed_of(baud, speed)) {
        log_system_error("SetCommState failed", EINVAL);
        return false;
    }
    ::cfmakeraw(&settings);
    if (::cfsetispeed(&settings, speed) != 0 || ::cfsetospeed(&settings, speed) != 0 ||
        ::tcsetattr(fd.get(), TCSANOW, &settings) != 0) {
        log_system_error("SetCommState failed");
        return false;
    }
    state_->fd = std::move(fd);
    state_->path = path;
    state_->baud = baud;
    return true;
}

void serial_port::close() {
    if (!state_->fd.valid()) {
        return;
    }
    auto_fd fd(state_->fd.release());
    ::tcflush(fd.get(), TCIOFLUSH);
    // Exclusivity belongs to the terminal, which outlives this descriptor when something
    // else still holds it open.
    ::ioctl(fd.get(), TIOCNXCL);
    state_->path.clear();
    state_->baud = 0;
}

bool serial_port::is_open() const {
    return state_->fd.valid();
}

const std::string& serial_port::path() const {
    return state_->path;
}

std::uint32_t serial_port::baud() const {
    return state_->baud;
}

bool serial_port::set_timeouts(const serial_timeouts& timeouts) {
    if (!is_open()) {
        return false;
    }
    state_->timeouts = timeouts;
    return true;
}

bool serial_port::set_line_settings() {
    const int fd = state_->fd.get();
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
        log_system_error("GetCommState failed");
        return false;
    }
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    // CLOCAL: the bridge's carrier line means nothing to the units.
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    if (::tcsetattr(fd, TCSANOW, &settings) != 0) {
        log_system_error("SetCommState failed");
        return false;
    }
    int dtr = TIOCM_DTR;
    int rts = TIOCM_RTS;
    if (::ioctl(fd, TIOCMBIS, &dtr) != 0 || ::ioctl(fd, TIOCMBIC, &rts) != 0) {
        // A pseudo-terminal, where simulated units sit, has no modem lines to set.
        if (errno != ENOTTY && errno != EINVAL) {
            log_system_error("SetCommState failed");
            return false;
        }
    }
    return true;
}

std::size_t serial_port::read(void* buffer, std::size_t capacity) {
    // The units send a reply in bursts; the pause lets more of it gather for one read.
    std::this_thread::sleep_for(milliseconds(25));
    if (!is_open()) {
        log_system_error("ReadFile failed", EBADF);
        return 0;
    }
    const int fd = state_->fd.get();
    const serial_timeouts& limits = state_->timeouts;
    const steady::time_point total_deadline =
        deadline_after(limits.read_total_constant, limits.read_total_multiplier, capacity);
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t got = 0;
    steady::time_point quiet_deadline = total_deadline;
    while (got < capacity) {
        pollfd ready{fd, POLLIN, 0};
        const int events =
            ::poll(&ready, 1, remaining_ms(std::min(total_deadline, quiet_deadline)));
        if (events == 0) {
            break;
        }
        const ssize_t n = events < 0 ? -1 : ::read(fd, out + got, capacity - got);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (n <= 0) {
            // Nothing to read although the port said so: the bridge has gone.
            log_system_error("ReadFile failed", n == 0 ? EIO : errno);
            return 0;
        }
        got += static_cast<std::size_t>(n);
        quiet_deadline = steady::now() + milliseconds(limits.read_interval);
    }
    return got;
}

std::size_t serial_port::write(const void* bytes, std::size_t count) {
    const auto* in = static_cast<const std::uint8_t*>(bytes);
    const serial_timeouts& limits = state_->timeouts;
    std::size_t total = 0;
    while (total < count) {
        int error = is_open() ? 0 : EBADF;
        const std::size_t sent =
            error != 0 ? 0
                       : write_some(state_->fd.get(), in + total, count - total,
                                    deadline_after(limits.write_total_constant,
                                                   limits.write_total_multiplier, count - total),
                                    error);
        if (error != 0) {
            log_system_error("WriteFile failed", error);
            break;
        }
        // The units take a command only after the line has been quiet for a while; the
        // protocols are timed around this pause after every write.
        std::this_thread::sleep_for(milliseconds(100));
        if (sent == 0) {
            // A port that takes nothing in a whole call would keep this loop going for ever.
            log_system_error("WriteFile failed", ETIMEDOUT);
            break;
        }
        total += sent;
    }
    return total;
}

bool serial_port::flush() {
    if (!is_open() || ::tcdrain(state_->fd.get()) != 0) {
        log_system_error("FlushFileBuffers failed", is_open() ? last_error() : EBADF);
        return false;
    }
    return true;
}

int serial_port::available() {
    int queued = 0;
    if (!is_open() || ::ioctl(state_->fd.get(), FIONREAD, &queued) != 0) {
        log_system_error("ClearCommError failed", is_open() ? last_error() : EBADF);
        return -1;
    }
    return queued;
}

}  // namespace orvel::platform
