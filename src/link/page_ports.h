// The ports the page is served on: the page tries 10001-10004 in order, and so does the
// agent; development and tests may move them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace orvel {

struct port_range {
    std::uint16_t first;
    std::uint16_t last;
};

// "first-last" in decimal, 1 <= first <= last <= 65535; nullopt for anything else.
std::optional<port_range> parse_port_range(const std::string& text);

// 10001-10004, unless ORVELSYNC_PAGE_PORTS names another range (for development and
// tests, where several agents run side by side); a malformed value is logged and the
// default used.
port_range page_ports();

}  // namespace orvel
