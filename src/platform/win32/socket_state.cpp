#include "platform/socket_state.h"

#include <winsock2.h>
// iphlpapi.h needs winsock2.h first.
#include <iphlpapi.h>

#include <vector>

namespace orvel::platform {

namespace {

// The system reports a reset, or an end with nothing left to read, as a hang-up.
bool poll_says_hung_up(SOCKET socket) {
    WSAPOLLFD state{};
    state.fd = socket;
    state.events = POLLRDNORM;
    return ::WSAPoll(&state, 1, 0) == 1 && (state.revents & (POLLHUP | POLLERR)) != 0;
}

// The peer's FIN behind bytes not yet read shows only in the connection's state: the
// peer has closed its side once the connection waits for ours (CLOSE_WAIT).
bool table_says_hung_up(SOCKET socket) {
    sockaddr_in local{};
    sockaddr_in remote{};
    int local_size = sizeof local;
    int remote_size = sizeof remote;
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(&local), &local_size) != 0 ||
        ::getpeername(socket, reinterpret_cast<sockaddr*>(&remote), &remote_size) != 0 ||
        local.sin_family != AF_INET) {
        return false;
    }
    ULONG size = 0;
    std::vector<char> buffer;
    DWORD result = ERROR_INSUFFICIENT_BUFFER;
    // The table may grow between asking its size and reading it.
    for (int attempt = 0; attempt < 3 && result == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
        buffer.resize(size);
        result = ::GetTcpTable(reinterpret_cast<MIB_TCPTABLE*>(buffer.data()), &size, FALSE);
    }
    if (result != NO_ERROR) {
        return false;
    }
    const auto* table = reinterpret_cast<const MIB_TCPTABLE*>(buffer.data());
    for (DWORD at = 0; at < table->dwNumEntries; ++at) {
        const MIB_TCPROW& row = table->table[at];
        // Ports are in network order in the low 16 bits, as in the socket's addresses.
        if (row.dwLocalAddr == local.sin_addr.s_addr &&
            (row.dwLocalPort & 0xFFFF) == local.sin_port &&
            row.dwRemoteAddr == remote.sin_addr.s_addr &&
            (row.dwRemotePort & 0xFFFF) == remote.sin_port) {
            return row.dwState == MIB_TCP_STATE_CLOSE_WAIT || row.dwState == MIB_TCP_STATE_CLOSED;
        }
    }
    return false;
}

}  // namespace

bool peer_has_hung_up(boost::asio::ip::tcp::socket::lowest_layer_type& socket) {
    if (!socket.is_open()) {
        return true;
    }
    const SOCKET native = socket.native_handle();
    return poll_says_hung_up(native) || table_says_hung_up(native);
}

}  // namespace orvel::platform
