#include "platform/peer_owner.h"

#include <gtest/gtest.h>

#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#ifdef _WIN32
#include <windows.h>
#endif

namespace orvel {
namespace {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

// The user the system finds at the far end of a fresh loopback connection, from the
// listening side; the client's socket opened for its own protocol.
std::optional<std::string> peer_seen_by_server(const asio::ip::address& listen_at,
                                               const tcp& client_protocol,
                                               const asio::ip::address& connect_to) {
    asio::io_context io;
    tcp::acceptor acceptor(io, tcp::endpoint(listen_at, 0));
    tcp::socket client(io);
    client.open(client_protocol);
    if (client_protocol == tcp::v6()) {
        client.set_option(asio::ip::v6_only(false));
    }
    client.connect(tcp::endpoint(connect_to, acceptor.local_endpoint().port()));
    tcp::socket server(io);
    acceptor.accept(server);
    // By the time the agent asks, the page has spoken (Wine lists the owner of a socket only
    // once the program has used it).
    char byte = 'x';
    asio::write(client, asio::buffer(&byte, 1));
    asio::read(server, asio::buffer(&byte, 1));
    asio::write(server, asio::buffer(&byte, 1));
    asio::read(client, asio::buffer(&byte, 1));
    return platform::peer_user(server);
}

// A table read in the wrong byte order, or the listed IPv4-mapped forms not looked for,
// leave the peer unknown; our own socket's row taken for the peer's names the wrong user
// (shown with another user in the agent's end-to-end tests).
TEST(PeerUser, NamesOurOwnUserForOurOwnIpv4Connection) {
    const std::string own = platform::own_user();
    ASSERT_FALSE(own.empty());
    const auto v4 = asio::ip::address_v4::loopback();
    EXPECT_EQ(peer_seen_by_server(v4, tcp::v4(), v4), own);
}

TEST(PeerUser, NamesOurOwnUserForOurOwnIpv6AndIpv4MappedConnections) {
#ifdef _WIN32
    if (::GetProcAddress(::GetModuleHandleA("ntdll"), "wine_get_version") != nullptr) {
        GTEST_SKIP() << "Wine 8 lists no owner for IPv6 sockets (it reads the wrong column "
                        "of /proc/net/tcp6)";
    }
#endif
    const std::string own = platform::own_user();
    const auto v6 = asio::ip::address_v6::loopback();
    EXPECT_EQ(peer_seen_by_server(v6, tcp::v6(), v6), own);
    // An IPv6 client reaching 127.0.0.1 as ::ffff:127.0.0.1.
    const auto v4 = asio::ip::address_v4::loopback();
    EXPECT_EQ(
        peer_seen_by_server(v4, tcp::v6(), asio::ip::make_address_v6(asio::ip::v4_mapped, v4)),
        own);
}

}  // namespace
}  // namespace orvel
