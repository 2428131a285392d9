// One HTTP exchange on the system's HTTP client: request out, answer handed to the caller
// piece by piece.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvel::platform {

struct outgoing_request {
    std::string host;
    std::uint16_t port = 80;
    bool secure = false;  // TLS with the system's certificate checks
    std::string verb;
    std::string object;   // the path after the host, without its leading "/"
    std::string headers;  // extra header lines, each ending in "\r\n"; may be empty
    const void* body = nullptr;
    std::uint32_t length = 0;
    std::string agent;
    // The exchange fails when no byte moves either way for this long.
    std::uint32_t stall_limit_ms = 30000;
};

struct http_response_head {
    unsigned status = 0;
    std::string raw_headers;  // status line and header lines of the final answer, CRLF each
    bool has_length = false;  // a Content-Length was announced
    std::uint64_t content_length = 0;
};

// The caller's side of an exchange. What these throw ends the exchange and leaves
// http_send, after the client's resources are released.
class http_exchange {
public:
    // Once, when the final answer's head is in: before its first body bytes, or at the end
    // when it has none.
    virtual void on_head(const http_response_head& head) = 0;
    virtual void on_body(const void* bytes, std::size_t count) = 0;
    // Asked at least every 100 ms while the exchange runs; true ends it.
    virtual bool stop_requested() = 0;

protected:
    ~http_exchange() = default;
};

struct http_result {
    enum class outcome {
        complete,   // the whole answer arrived, as long as its Content-Length said
        no_handle,  // the client could not be set up
        failed,     // a step of the exchange failed, a short body and a stall included
        stopped,    // stop_requested answered true
    };
    outcome what = outcome::complete;
    std::string step;  // the client call that failed
    unsigned long error = 0;
    std::string error_text;
};

// Logs a failed step as "<step>: <number>. <text>".
http_result http_send(const outgoing_request& request, http_exchange& exchange);

}  // namespace orvel::platform
