// An owned serial port: a USB-to-UART bridge that the unit sits behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace orvel::platform {

// How long one read or write may take, in milliseconds. A read ends when its buffer is full,
// when read_interval passes without a new byte once one has come, or when
// read_total_constant + read_total_multiplier per requested byte have passed in all; a write
// gives up on what is left after write_total_constant + write_total_multiplier per byte.
struct serial_timeouts {
    std::uint32_t read_interval = 100;
    std::uint32_t read_total_multiplier = 1;
    std::uint32_t read_total_constant = 100;
    std::uint32_t write_total_multiplier = 1;
    std::uint32_t write_total_constant = 100;
};

// Each failed step logs "<operation>: <number>. <text>" with the operation names that log
// readers key on ("Create file failed", "ReadFile failed", ...).
class serial_port {
public:
    serial_port();
    // Closes the port.
    ~serial_port();
    serial_port(const serial_port&) = delete;
    serial_port& operator=(const serial_port&) = delete;

    // Opens the port for this process alone, raw, at one of the rates 460800, 115200,
    // 57600, 38400 or 9600. An open port is closed first.
    bool open(const std::string& path, std::uint32_t baud);
    // Discards what is queued either way, then closes. Nothing happens when it is closed.
    void close();
    bool is_open() const;
    const std::string& path() const;
    // 0 while closed.
    std::uint32_t baud() const;

    bool set_timeouts(const serial_timeouts& timeouts);
    // 8 data bits, no parity, one stop bit, no flow control; DTR on and RTS off.
    bool set_line_settings();

    // Sleeps 25 ms first, then one read bounded by the time-outs; 0 on failure.
    std::size_t read(void* buffer, std::size_t capacity);
    // Writes until all bytes are out, sleeping 100 ms after every call; stops at a failed
    // call (or one that took nothing in its time). The bytes written.
    std::size_t write(const void* bytes, std::size_t count);
    // Waits until everything written has left.
    bool flush();
    // Bytes waiting in the input queue; -1 on failure.
    int available();

private:
    struct state;
    std::unique_ptr<state> state_;
};

}  // namespace orvel::platform
