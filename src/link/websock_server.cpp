#include "link/websock_server.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <stdexcept>
#include <system_error>

#include "base/log_hub.h"
#include "link/page_ports.h"
#include "link/status.h"

namespace orvel {

namespace ssl = boost::asio::ssl;

namespace {

// websocketpp reports a failed handshake only as "TLS handshake failed"; the alert that ended
// it says why (an old browser's protocol, a missing certificate, a page that does not trust
// ours), so it is logged as it happens.
void report_tls_alert(const SSL*, int where, int value) {
    if ((where & SSL_CB_ALERT) == 0 || (value >> 8) != SSL3_AL_FATAL) {
        return;
    }
    if ((where & SSL_CB_READ) != 0) {
        log(3, "TLS alert from client: %s", SSL_alert_desc_string_long(value));
        return;
    }
    // The reason was queued just before the alert was written.
    const char* reason = ERR_reason_error_string(ERR_peek_last_error());
    log(3, "TLS handshake failed: %s",
        reason != nullptr ? reason : SSL_alert_desc_string_long(value));
}

// Asio widens OpenSSL's packed codes through int, which loses the text of system errors such
// as a missing file; look the reason up from the code's low 32 bits.
std::string tls_error_text(const boost::system::error_code& ec) {
    if (ec.category() == boost::asio::error::get_ssl_category()) {
        const unsigned long code = static_cast<unsigned int>(ec.value());
        if (ERR_SYSTEM_ERROR(code)) {
            return std::generic_category().message(static_cast<int>(ERR_GET_REASON(code)));
        }
        if (const char* reason = ERR_reason_error_string(code)) {
            return reason;
        }
    }
    return ec.message();
}

}  // namespace

websock_server::websock_server(std::string key_path, std::string cert_path)
    : key_path_(std::move(key_path)), cert_path_(std::move(cert_path)) {
    // Both logs go to the standard streams, which start-up points at the log file.
    endpoint_.clear_access_channels(websocketpp::log::alevel::all);
    endpoint_.set_access_channels(websocketpp::log::alevel::disconnect |
                                  websocketpp::log::alevel::access_core);
    endpoint_.clear_error_channels(websocketpp::log::elevel::all);
    endpoint_.set_error_channels(websocketpp::log::elevel::info);
    endpoint_.init_asio();
    endpoint_.set_max_message_size(max_message_size);
    // A page connection of the previous run left in TIME_WAIT must not move us to another
    // port; a port that another process listens on is still refused.
    endpoint_.set_reuse_addr(true);
}

websock_server::~websock_server() = default;

bool websock_server::on_validate(connection_handle) {
    return true;
}

void websock_server::on_interrupt(connection_handle) {}

void websock_server::install_handlers() {
    endpoint_.set_message_handler([this](connection_handle h, tls_endpoint::message_ptr m) {
        on_message(std::move(h), std::move(m));
    });
    endpoint_.set_tls_init_handler([this](connection_handle h) { return on_tls_init(h); });
    endpoint_.set_open_handler([this](connection_handle h) { on_connected(h); });
    endpoint_.set_close_handler([this](connection_handle h) { on_disconnected(h); });
    endpoint_.set_fail_handler([this](connection_handle h) { on_fail(h); });
    endpoint_.set_validate_handler([this](connection_handle h) { return on_validate(h); });
    endpoint_.set_interrupt_handler([this](connection_handle h) { on_interrupt(h); });
    endpoint_.set_http_handler([this](connection_handle h) { on_http(h); });
    // A status follows the echo of its command within milliseconds; waiting for the page's
    // delayed acknowledgement of the echo before sending it would hold the status back. Set
    // once the socket is connected: the library's socket hook runs before it is open.
    endpoint_.set_tcp_pre_init_handler([this](connection_handle h) {
        websocketpp::lib::error_code ec;
        tls_endpoint::connection_ptr connection = endpoint_.get_con_from_hdl(h, ec);
        if (connection) {
            boost::system::error_code ignored;
            connection->get_socket().lowest_layer().set_option(boost::asio::ip::tcp::no_delay(true),
                                                               ignored);
        }
    });
}

bool websock_server::listen() {
    const port_range ports = page_ports();
    websocketpp::lib::error_code ec;
    for (unsigned int port = ports.first; port <= ports.last; ++port) {
        ec = listen_on(static_cast<std::uint16_t>(port));
        if (!ec) {
            port_ = static_cast<std::uint16_t>(port);
            break;
        }
        if (ec != boost::asio::error::address_in_use) {
            log(3, "listen failed: %s (%d)", ec.message().c_str(), ec.value());
            return false;
        }
    }
    if (ec) {
        log(3, "listen couldn't find free port: %s", ec.message().c_str());
        return false;
    }
    endpoint_.start_accept(ec);
    if (ec) {
        log(3, "start_accept failed: %s (%d)", ec.message().c_str(), ec.value());
        port_ = 0;
        return false;
    }
    if (ipv6_acceptor_) {
        accept_ipv6();
    }
    log(3, "Serving the page on port %u of %s", unsigned{port_},
        ipv6_acceptor_ ? "127.0.0.1 and ::1" : "127.0.0.1");
    return true;
}

websocketpp::lib::error_code websock_server::listen_on(std::uint16_t port) {
    namespace ip = boost::asio::ip;
    websocketpp::lib::error_code ec;
    // Loopback only: the page runs on this machine, and the log stream it receives carries
    // the member's credentials.
    endpoint_.listen(ip::tcp::endpoint(ip::address_v4::loopback(), port), ec);
    if (ec || !ipv6_) {
        return ec;
    }
    // Browsers try ::1 first for localhost: a program of another user that held ::1 at our
    // port would receive the page, so the port is ours only when both addresses are.
    auto acceptor = std::make_unique<ip::tcp::acceptor>(endpoint_.get_io_service());
    const ip::tcp::endpoint at(ip::address_v6::loopback(), port);
    acceptor->open(at.protocol(), ec);
    if (!ec) {
        acceptor->set_option(ip::tcp::acceptor::reuse_address(true), ec);
    }
    if (!ec) {
        acceptor->bind(at, ec);
    }
    if (!ec) {
        acceptor->listen(ip::tcp::acceptor::max_listen_connections, ec);
    }
    if (!ec) {
        ipv6_acceptor_ = std::move(acceptor);
        return ec;
    }
    // No IPv6 at all, or a loopback without ::1.
    if (ec == boost::asio::error::address_family_not_supported ||
        ec == boost::system::errc::address_not_available) {
        log(3, "No IPv6 loopback on this system (%s): serving the page on 127.0.0.1 alone",
            ec.message().c_str());
        ipv6_ = false;
        return {};
    }
    websocketpp::lib::error_code ignored;
    endpoint_.stop_listening(ignored);
    return ec;
}

void websock_server::accept_ipv6() {
    tls_endpoint::connection_ptr connection = endpoint_.get_connection();
    if (!connection) {
        log(3, "accept on ::1 stopped: no connection could be made");
        return;
    }
    ipv6_acceptor_->async_accept(
        connection->get_raw_socket(),
        connection->get_strand()->wrap([this, connection](const boost::system::error_code& ec) {
            if (ec) {
                connection->terminate(ec);
                if (ec == boost::asio::error::operation_aborted) {
                    return;  // the acceptor has closed
                }
                log(3, "accept on ::1 failed: %s (%d)", ec.message().c_str(), ec.value());
            } else {
                connection->start();
            }
            accept_ipv6();
        }));
}

std::shared_ptr<tls_context> websock_server::on_tls_init(connection_handle) {
    auto context = std::make_shared<tls_context>(tls_context::tlsv12_server);
    context->set_options(tls_context::default_workarounds | tls_context::no_sslv2 |
                         tls_context::no_sslv3 | tls_context::no_tlsv1 | tls_context::no_tlsv1_1 |
                         tls_context::single_dh_use);
    SSL_CTX_set_info_callback(context->native_handle(), report_tls_alert);
    try {
        boost::system::error_code ec;
        context->use_certificate_chain_file(cert_path_, ec);
        if (ec) {
            log(3, "use_certificate_chain_file failed: %s (%d)", tls_error_text(ec).c_str(),
                ec.value());
            return context;
        }
        context->use_private_key_file(key_path_, tls_context::pem, ec);
        if (ec) {
            log(3, "use_private_key_file failed: %s (%d)", tls_error_text(ec).c_str(), ec.value());
            return context;
        }
    } catch (const std::exception& e) {
        log(3, "on_tls_init exception: %s", e.what());
        throw std::runtime_error(e.what());
    }
    return context;
}

void websock_server::on_http(connection_handle handle) {
    tls_endpoint::connection_ptr connection = endpoint_.get_con_from_hdl(handle);
    const std::string version = page_version_text();
    connection->set_status(websocketpp::http::status_code::ok);
    connection->replace_header("Content-Type", "text/html; charset=utf-8");
    connection->replace_header("Cache-Control", "no-store");
    connection->set_body(
        "<!doctype html>\n<meta charset=\"utf-8\">\n<title>Orvel Sync " + version +
        "</title>\n<p>Orvel Sync " + version +
        " is running. You can close this page and go back to the member site.</p>\n");
}

std::uintptr_t connection_address(const connection_handle& handle) {
    return reinterpret_cast<std::uintptr_t>(handle.lock().get());
}

long strong_count(const connection_handle& handle) {
    return handle.use_count();
}

}  // namespace orvel
