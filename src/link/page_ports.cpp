#include "link/page_ports.h"

#include <charconv>
#include <cstdlib>

#include "base/log_hub.h"
#include "link/websock_server.h"

namespace orvel {

namespace {

const char* const setting_name = "ORVELSYNC_PAGE_PORTS";

// The whole of [begin, end) as a port number.
std::optional<std::uint16_t> port_of(const char* begin, const char* end) {
    unsigned int value = 0;
    const auto [stop, error] = std::from_chars(begin, end, value);
    if (begin == end || error != std::errc() || stop != end || value == 0 || value > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

}  // namespace

std::optional<port_range> parse_port_range(const std::string& text) {
    const std::size_t dash = text.find('-');
    if (dash == std::string::npos) {
        return std::nullopt;
    }
    const char* begin = text.data();
    const auto first = port_of(begin, begin + dash);
    const auto last = port_of(begin + dash + 1, begin + text.size());
    if (!first || !last || *first > *last) {
        return std::nullopt;
    }
    return port_range{*first, *last};
}

port_range page_ports() {
    const port_range standard{first_port, last_port};
    const char* setting = std::getenv(setting_name);
    if (setting == nullptr || *setting == '\0') {
        return standard;
    }
    const std::optional<port_range> chosen = parse_port_range(setting);
    if (!chosen) {
        log(3, "%s is not a range such as 10001-10004: \"%s\"; using %u-%u", setting_name, setting,
            unsigned{standard.first}, unsigned{standard.last});
        return standard;
    }
    log(3, "Page ports from %s: %u-%u", setting_name, unsigned{chosen->first},
        unsigned{chosen->last});
    return *chosen;
}

}  // namespace orvel
