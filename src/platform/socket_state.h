// What the system knows of a connection before the event loop has read it.
#pragma once

#include <boost/asio/ip/tcp.hpp>

namespace orvel::platform {

// True when the peer has ended its side (its FIN or a reset has arrived), even while bytes
// it sent before are still waiting to be read.
bool peer_has_hung_up(boost::asio::ip::tcp::socket::lowest_layer_type& socket);

}  // namespace orvel::platform
