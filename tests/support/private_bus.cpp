#include "support/private_bus.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <stdexcept>

namespace orvel::test {

namespace {

// Anyone may own any name and call anything: the bus holds only the test's own parties.
std::string bus_config(const std::string& socket_path) {
    return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n"
           "  <type>custom</type>\n"
           "  <listen>unix:path=" +
           socket_path +
           "</listen>\n"
           "  <auth>EXTERNAL</auth>\n"
           "  <policy context=\"default\">\n"
           "    <allow user=\"*\"/>\n"
           "    <allow own=\"*\"/>\n"
           "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
           "    <allow eavesdrop=\"true\"/>\n"
           "  </policy>\n"
           "</busconfig>\n";
}

// The daemon prints its address once it listens.
std::string read_address(int fd) {
    std::string line;
    while (line.empty() || line.back() != '\n') {
        pollfd wanted{fd, POLLIN, 0};
        if (::poll(&wanted, 1, 10000) <= 0) {
            throw std::runtime_error("dbus-daemon did not tell its address");
        }
        char buffer[256];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0) {
            throw std::runtime_error("dbus-daemon ended before telling its address");
        }
        line.append(buffer, static_cast<std::size_t>(got));
    }
    line.pop_back();
    return line;
}

}  // namespace

private_bus::private_bus() {
    const std::string config = folder_ / "bus.conf";
    write_file(config, bus_config(folder_ / "socket"));
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        throw std::runtime_error("no pipe for dbus-daemon");
    }
    try {
        daemon_ = std::make_unique<child_process>(
            std::vector<std::string>{"dbus-daemon", "--config-file=" + config, "--nofork",
                                     "--nopidfile", "--print-address=1"},
            std::string(), ends[1]);
        ::close(ends[1]);
        ends[1] = -1;
        address_ = read_address(ends[0]);
    } catch (...) {
        ::close(ends[0]);
        if (ends[1] >= 0) {
            ::close(ends[1]);
        }
        throw;
    }
    ::close(ends[0]);
}

private_bus::~private_bus() {
    if (daemon_) {
        daemon_->stop();
    }
}

}  // namespace orvel::test
