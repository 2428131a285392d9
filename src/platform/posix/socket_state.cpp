#include "platform/socket_state.h"

#include <poll.h>

namespace orvel::platform {

bool peer_has_hung_up(boost::asio::ip::tcp::socket::lowest_layer_type& socket) {
    if (!socket.is_open()) {
        return true;
    }
    pollfd state{socket.native_handle(), POLLRDHUP, 0};
    if (::poll(&state, 1, 0) != 1) {
        return false;
    }
    return (state.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

}  // namespace orvel::platform
