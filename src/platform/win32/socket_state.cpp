#include "platform/socket_state.h"

#include <winsock2.h>

namespace orvel::platform {

bool peer_has_hung_up(boost::asio::ip::tcp::socket::lowest_layer_type& socket) {
    if (!socket.is_open()) {
        return true;
    }
    // The system reports the peer's end (its FIN, or a reset) as a hang-up, whether or not
    // bytes it sent before are still waiting.
    WSAPOLLFD state{};
    state.fd = socket.native_handle();
    state.events = POLLRDNORM;
    if (::WSAPoll(&state, 1, 0) != 1) {
        return false;
    }
    return (state.revents & (POLLHUP | POLLERR)) != 0;
}

}  // namespace orvel::platform
