// The far end of a serial line for simulated units: a pseudo-terminal whose other end the
// agent opens as its port. A thread hands the unit every byte the agent writes; the unit
// answers with send(). The line knows nothing of any protocol.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace orvel::test {

class pty_line {
public:
    // Called on the line's thread.
    using receiver = std::function<void(const std::uint8_t* bytes, std::size_t count)>;

    // Throws std::runtime_error when no pseudo-terminal can be had.
    explicit pty_line(receiver on_bytes);
    ~pty_line();
    pty_line(const pty_line&) = delete;
    pty_line& operator=(const pty_line&) = delete;

    // The device path the agent opens ("/dev/pts/<n>").
    const std::string& path() const { return path_; }
    // "<friendly name> (<path>)": how the port shows in the agent's port list
    // (ORVELSYNC_SERIAL_PORTS).
    std::string port_entry(const std::string& friendly_name) const;

    // Writes to the agent in that many pieces, pausing between them long enough for the
    // agent's read to end in between. What the agent does not take within a second is
    // dropped.
    void send(const std::uint8_t* bytes, std::size_t count, unsigned pieces = 1);
    // Closes both ends, as a unit pulled from its socket: the port's device goes away and
    // the agent's reads and writes fail. Only from the receiver, on the line's thread.
    void hang_up();

private:
    void run();
    void write_all(const std::uint8_t* bytes, std::size_t count);

    int master_ = -1;
    // Held open so that the line stays up while the agent has its port closed.
    int slave_ = -1;
    std::string path_;
    receiver on_bytes_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace orvel::test
