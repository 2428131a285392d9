// A page as a browser leaves it on reload: it sends its close frame and then neither reads
// nor ends its TLS session, so the agent's side of the shutdown waits on it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace orvel::test {

class leaving_page {
public:
    leaving_page();
    // Drops the socket without any TLS goodbye.
    ~leaving_page();
    leaving_page(const leaving_page&) = delete;
    leaving_page& operator=(const leaving_page&) = delete;

    // Performs the WebSocket handshake on 127.0.0.1; the HTTP status of the answer (101 when
    // it opened), 0 when no answer came.
    int open(std::uint16_t port, const std::string& origin = "");
    // Writes a close frame (1001, going away) and goes silent.
    void leave();

private:
    struct impl;
    std::unique_ptr<impl> impl_;
};

}  // namespace orvel::test
