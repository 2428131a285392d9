#include "support/port_holder.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

namespace orvel::test {

namespace asio = boost::asio;
using asio::ip::tcp;

struct port_holder::impl {
    asio::io_context context;
    std::vector<std::unique_ptr<tcp::acceptor>> acceptors;
};

port_holder::port_holder(const std::vector<std::uint16_t>& ports, const std::string& address)
    : impl_(std::make_unique<impl>()) {
    for (const std::uint16_t port : ports) {
        auto acceptor = std::make_unique<tcp::acceptor>(impl_->context);
        const tcp::endpoint at(asio::ip::make_address(address), port);
        acceptor->open(at.protocol());
        // A connection of an earlier test left in TIME_WAIT must not keep us from holding
        // the port; listening still keeps everybody else off it.
        acceptor->set_option(tcp::acceptor::reuse_address(true));
        acceptor->bind(at);
        acceptor->listen();
        impl_->acceptors.push_back(std::move(acceptor));
    }
}

port_holder::~port_holder() = default;

bool tcp_accepts(const std::string& address, std::uint16_t port) {
    asio::io_context context;
    tcp::socket socket(context);
    boost::system::error_code ec;
    socket.connect(tcp::endpoint(asio::ip::make_address(address), port), ec);
    return !ec;
}

}  // namespace orvel::test
