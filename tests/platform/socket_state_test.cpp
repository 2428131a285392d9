#include "platform/socket_state.h"

#include <gtest/gtest.h>

#include <boost/asio/write.hpp>
#include <chrono>
#include <thread>

namespace orvel {
namespace {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

TEST(PeerHasHungUp, SeesTheFinEvenBehindUnreadBytes) {
    asio::io_context io;
    tcp::acceptor acceptor(io, tcp::endpoint(asio::ip::address_v4::loopback(), 0));
    tcp::socket ours(io);
    ours.connect(acceptor.local_endpoint());
    tcp::socket theirs(io);
    acceptor.accept(theirs);

    EXPECT_FALSE(platform::peer_has_hung_up(ours));
    asio::write(theirs, asio::buffer(std::string("a close frame")));
    EXPECT_FALSE(platform::peer_has_hung_up(ours));  // bytes alone are no goodbye
    theirs.shutdown(tcp::socket::shutdown_send);
    // The FIN travels over loopback at once, but not within the call that sent it.
    bool hung_up = false;
    for (int tries = 0; tries < 1000 && !hung_up; ++tries) {
        hung_up = platform::peer_has_hung_up(ours);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(hung_up);
    ours.close();
    EXPECT_TRUE(platform::peer_has_hung_up(ours));
}

}  // namespace
}  // namespace orvel
