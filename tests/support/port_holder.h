// Keeps TCP ports taken by listening on them, as another program on the machine would.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvel::test {

class port_holder {
public:
    // Listens on each port at the address ("0.0.0.0" takes every local address); throws
    // when a port cannot be taken.
    explicit port_holder(const std::vector<std::uint16_t>& ports,
                         const std::string& address = "127.0.0.1");
    ~port_holder();
    port_holder(const port_holder&) = delete;
    port_holder& operator=(const port_holder&) = delete;

private:
    struct impl;
    std::unique_ptr<impl> impl_;
};

// True when a plain TCP connection to the address and port is accepted.
bool tcp_accepts(const std::string& address, std::uint16_t port);

}  // namespace orvel::test
