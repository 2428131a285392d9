#include "platform/peer_owner.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/system_error.h"

namespace orvel::platform {

namespace {

namespace ip = boost::asio::ip;

// An endpoint as /proc/net/tcp and tcp6 print it: each 32-bit word of the address as it
// lies in memory, printed as a number in host order, then the port ("0100007F:2711").
template <std::size_t size>
std::string table_form(const std::array<unsigned char, size>& bytes, std::uint16_t port) {
    std::string text;
    char word_text[9];
    for (std::size_t at = 0; at < size; at += 4) {
        std::uint32_t word = 0;
        std::memcpy(&word, bytes.data() + at, 4);
        std::snprintf(word_text, sizeof word_text, "%08X", word);
        text += word_text;
    }
    char port_text[6];
    std::snprintf(port_text, sizeof port_text, ":%04X", port);
    return text + port_text;
}

struct table_search {
    const char* table;
    std::string peer;  // the peer's socket has the peer's end as its local address
    std::string ours;
};

// The uid column of the row whose ends are the peer's and ours, in that order.
std::optional<std::string> find_uid(const table_search& search) {
    std::ifstream table(search.table);
    if (!table) {
        log_system_error(("open " + std::string(search.table)).c_str(), errno);
        return std::nullopt;
    }
    std::string line;
    std::getline(table, line);  // the header
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid;
        fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid;
        if (local == search.peer && remote == search.ours) {
            return uid;
        }
    }
    return std::nullopt;
}

ip::address_v6 as_v6(const ip::address& address) {
    return address.is_v6() ? address.to_v6() : ip::make_address_v6(ip::v4_mapped, address.to_v4());
}

}  // namespace

std::optional<std::string> peer_user(ip::tcp::socket::lowest_layer_type& socket) {
    boost::system::error_code ec;
    const ip::tcp::endpoint peer = socket.remote_endpoint(ec);
    if (ec) {
        return std::nullopt;  // it has gone already
    }
    const ip::tcp::endpoint ours = socket.local_endpoint(ec);
    if (ec) {
        return std::nullopt;
    }
    // SO_PEERCRED answers for Unix sockets only. A peer that reached our IPv4 address from
    // an IPv6 socket is listed in tcp6 under the IPv4-mapped forms.
    const ip::address_v6 peer_v6 = as_v6(peer.address());
    const ip::address_v6 ours_v6 = as_v6(ours.address());
    if (peer_v6.is_v4_mapped() && ours_v6.is_v4_mapped()) {
        const table_search v4{
            "/proc/net/tcp",
            table_form(ip::make_address_v4(ip::v4_mapped, peer_v6).to_bytes(), peer.port()),
            table_form(ip::make_address_v4(ip::v4_mapped, ours_v6).to_bytes(), ours.port())};
        if (std::optional<std::string> uid = find_uid(v4)) {
            return uid;
        }
    }
    return find_uid({"/proc/net/tcp6", table_form(peer_v6.to_bytes(), peer.port()),
                     table_form(ours_v6.to_bytes(), ours.port())});
}

std::string own_user() {
    // A socket belongs to the user whose rights made it: the effective one.
    return std::to_string(::geteuid());
}

}  // namespace orvel::platform
