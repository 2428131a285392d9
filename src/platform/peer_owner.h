// Who is at the other end of a TCP connection on this machine: every account reaches the
// loopback, so the address alone does not say whose program connected.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <optional>
#include <string>

namespace orvel::platform {

// The user that owns the socket at the other end of the connection, named as the system
// names users (a uid on Linux, a SID on Windows); nullopt when the system does not say (the
// peer has already gone, or its process may not be asked), after logging a failed call.
std::optional<std::string> peer_user(boost::asio::ip::tcp::socket::lowest_layer_type& socket);

// The user this process runs as, named the same way; "" after logging a failed call.
std::string own_user();

}  // namespace orvel::platform
