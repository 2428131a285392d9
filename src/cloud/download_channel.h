// The socket steps of one plain-socket download, over TCP or over TLS.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/system/error_code.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "base/events.h"

namespace orvel {

// Throws http_exception "_http_download_: " and the text the Boost exception library gives
// for the failure, which begins with its dynamic type and what-text ("<step>: <reason>").
[[noreturn]] void fail_download_step(const boost::system::error_code& error, const char* step);

// One step at a time. Each step wakes every 100 ms to ask the event whether to stop, and
// times out when it takes longer than the stall limit. A step answers false when the event
// fired; the step is then abandoned.
class download_channel {
public:
    explicit download_channel(event_base& event);

    bool connect(const std::string& host, std::uint16_t port);
    // TLS from here on, with a server whose certificate the system's store vouches for and
    // names host (a DNS name or an IP address).
    bool secure(const std::string& host);
    bool write(const std::string& text);
    // Reads into text until it holds the delimiter; end is the length up to and with it.
    bool read_until(std::string& text, const char* delimiter, std::size_t& end);
    // At least one byte, and what follows within a moment, up to the buffer's size; error is
    // end-of-file when the peer closed, with what came before it in the buffer.
    bool read_some(std::vector<char>& buffer, std::size_t& count, boost::system::error_code& error);

private:
    // The socket itself, or TLS over it once secure.
    template <typename Step>
    void on_stream(const Step& step) {
        if (secure_) {
            step(stream_);
        } else {
            step(stream_.next_layer());
        }
    }
    void trust_system_store();
    bool finish(const bool& done, boost::system::error_code& error);
    // finish, and a failure of the step thrown under its name.
    bool finish(const bool& done, boost::system::error_code& error, const char* step);
    void abandon(const bool& done);

    event_base& event_;
    boost::asio::io_context io_;
    boost::asio::ip::tcp::resolver resolver_;
    boost::asio::ssl::context tls_;
    boost::asio::ssl::stream<boost::asio::ip::tcp::socket> stream_;
    bool secure_ = false;
};

}  // namespace orvel
