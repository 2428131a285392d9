#include "support/leaving_page.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>
#include <istream>

namespace orvel::test {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

struct leaving_page::impl {
    asio::io_context io;
    asio::ssl::context context{asio::ssl::context::tls_client};
    asio::ssl::stream<tcp::socket> stream{io, context};
};

leaving_page::leaving_page() : impl_(std::make_unique<impl>()) {}

leaving_page::~leaving_page() {
    boost::system::error_code ignored;
    impl_->stream.lowest_layer().close(ignored);
}

int leaving_page::open(std::uint16_t port, const std::string& origin) {
    boost::system::error_code ec;
    impl_->stream.lowest_layer().connect(tcp::endpoint(asio::ip::address_v4::loopback(), port), ec);
    if (!ec) {
        impl_->stream.handshake(asio::ssl::stream_base::client, ec);
    }
    if (ec) {
        return 0;
    }
    std::string request = "GET / HTTP/1.1\r\nHost: localhost:" + std::to_string(port) +
                          "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                          "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                          "Sec-WebSocket-Version: 13\r\n";
    if (!origin.empty()) {
        request += "Origin: " + origin + "\r\n";
    }
    request += "\r\n";
    asio::write(impl_->stream, asio::buffer(request), ec);
    asio::streambuf answer;
    if (!ec) {
        asio::read_until(impl_->stream, answer, "\r\n", ec);
    }
    if (ec) {
        return 0;
    }
    std::istream lines(&answer);
    std::string version;
    int status = 0;
    lines >> version >> status;
    return status;
}

void leaving_page::leave() {
    // FIN, opcode close; masked (as every client frame must be) with a zero key; code 1001.
    const unsigned char frame[] = {0x88, 0x82, 0, 0, 0, 0, 0x03, 0xE9};
    boost::system::error_code ignored;
    asio::write(impl_->stream, asio::buffer(frame), ignored);
}

}  // namespace orvel::test
