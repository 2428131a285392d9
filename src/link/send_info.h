// One text waiting in the send queue for the page.
#pragma once

#include <string>
#include <websocketpp/common/connection_hdl.hpp>
#include <websocketpp/frame.hpp>

namespace orvel {

struct send_info {
    // The connection the line was queued for; a later page never receives it.
    websocketpp::connection_hdl handle;
    std::string payload;
    websocketpp::frame::opcode::value opcode = websocketpp::frame::opcode::text;
};

}  // namespace orvel
