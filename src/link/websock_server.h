// The TLS WebSocket endpoint the page connects to; its callbacks become virtual operations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <websocketpp/config/asio.hpp>
#include <websocketpp/server.hpp>

namespace orvel {

// The library's TLS server, but a page that has closed gets one second, not five, to
// answer the agent's TLS close. Browsers never answer it, so until then each page that left
// held its socket and buffers, and the agent heard that it had gone only then.
struct tls_server_config : websocketpp::config::asio_tls {
    using type = tls_server_config;
    using base = websocketpp::config::asio_tls;
    struct transport_config : base::transport_config {
        static const long timeout_socket_shutdown = 1000;
    };
    using transport_type = websocketpp::transport::asio::endpoint<transport_config>;
};
using tls_endpoint = websocketpp::server<tls_server_config>;
using connection_handle = websocketpp::connection_hdl;
using tls_context = boost::asio::ssl::context;

// The page's ports, tried in order; the page tries them in the same order.
inline constexpr std::uint16_t first_port = 10001;
inline constexpr std::uint16_t last_port = 10004;
// A command is well under 1 KiB. A longer message closes its connection as too big before
// the library has read it into memory.
inline constexpr std::size_t max_message_size = 64 * 1024;

class websock_server {
public:
    websock_server(std::string key_path, std::string cert_path);
    virtual ~websock_server();

    websock_server(const websock_server&) = delete;
    websock_server& operator=(const websock_server&) = delete;

    // The port being served; 0 before a successful listen.
    std::uint16_t port() const { return port_; }

protected:
    virtual void on_message(connection_handle handle, tls_endpoint::message_ptr message) = 0;
    virtual void on_connected(connection_handle handle) = 0;
    virtual void on_disconnected(connection_handle handle) = 0;
    virtual void on_fail(connection_handle handle) = 0;
    virtual bool on_validate(connection_handle handle);
    virtual void on_interrupt(connection_handle handle);

    void install_handlers();
    // 127.0.0.1 and ::1 on the first port of the range that is free on both, then
    // accepting; false after logging.
    bool listen();

    tls_endpoint& endpoint() { return endpoint_; }

private:
    std::shared_ptr<tls_context> on_tls_init(connection_handle handle);
    // A plain HTTPS request: a member who follows a link to accept the certificate sees
    // that the agent runs, and which version.
    void on_http(connection_handle handle);

    // The port on both loopback addresses, or on neither.
    websocketpp::lib::error_code listen_on(std::uint16_t port);
    // Hands each connection accepted on ::1 to the endpoint, as the endpoint's own accept
    // loop does with those on 127.0.0.1.
    void accept_ipv6();

    tls_endpoint endpoint_;
    std::string key_path_;
    std::string cert_path_;
    std::uint16_t port_ = 0;
    // The endpoint listens on one address only; this one serves ::1 on its event loop. Null
    // where the system has no IPv6 loopback. Declared after the endpoint, so it closes first.
    std::unique_ptr<boost::asio::ip::tcp::acceptor> ipv6_acceptor_;
    bool ipv6_ = true;
};

// For log lines that name a connection: its address and its number of strong references.
std::uintptr_t connection_address(const connection_handle& handle);
long strong_count(const connection_handle& handle);

}  // namespace orvel
