// A page as the browser runs it: a TLS WebSocket client that records every message it gets.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvel::test {

enum class tls_version { v1_1, v1_2 };

class page_client {
public:
    using duration = std::chrono::milliseconds;
    static constexpr duration default_wait = std::chrono::seconds(5);

    explicit page_client(tls_version version = tls_version::v1_2);
    // Closes the connection if it is still open.
    ~page_client();
    page_client(const page_client&) = delete;
    page_client& operator=(const page_client&) = delete;

    // The Origin header of the handshake, as a browser page at that origin sends it; none
    // by default, as a local program connects.
    void set_origin(std::string origin);
    // Checks the agent's certificate as a browser does: it must be the one in the file (PEM)
    // and be made out to the name (a host name or an address). By default nothing is checked.
    void trust_only(std::string certificate_file, std::string name);
    // Opens wss://<address>:<port>/ (once per client; an IPv6 address as it is, "::1");
    // true once the connection is open. On false, http_status() and http_body() hold a
    // refused handshake's answer and failure() the library's reason.
    bool connect(std::uint16_t port, duration timeout = default_wait,
                 const std::string& address = "127.0.0.1");
    void send(const std::string& text);
    // A normal close; waits until the connection has ended.
    void close(duration timeout = default_wait);
    bool is_open() const;
    bool wait_closed(duration timeout = default_wait);

    // Every text message received so far, in order.
    std::vector<std::string> received() const;
    std::size_t received_count() const;
    // The logged message of every received line (see message_of_line).
    std::vector<std::string> messages() const;

    // Waits until the condition holds over the received messages; false on time-out.
    bool wait_for(const std::function<bool(const std::vector<std::string>&)>& condition,
                  duration timeout = default_wait);
    // The first line at or after index `from` whose message equals / contains the text.
    std::optional<std::string> wait_for_message(const std::string& message,
                                                duration timeout = default_wait,
                                                std::size_t from = 0);
    std::optional<std::string> wait_for_mention(const std::string& fragment,
                                                duration timeout = default_wait,
                                                std::size_t from = 0);
    // The Data object of the first status line at or after `from` with that Status.
    std::optional<std::string> wait_for_status(int status, duration timeout = default_wait,
                                               std::size_t from = 0);
    // The Data object of the first status line at or after `from` that ends a unit
    // operation: any Status but 2 (present) and 3 (running).
    std::optional<std::string> wait_for_final_status(duration timeout, std::size_t from);

    int http_status() const;
    std::string http_body() const;
    std::string failure() const;
    // The close code the server sent; 0 while open or when none came.
    int close_code() const;

private:
    struct impl;
    std::unique_ptr<impl> impl_;
};

// The Status of a status object's text; nullopt when the text is not one.
std::optional<int> status_of(const std::string& data);

}  // namespace orvel::test
