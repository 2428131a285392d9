// The parts of a URL that the transport connects with.
#pragma once

#include <cstdint>
#include <string>

namespace orvel {

struct url_parts {
    std::string scheme;      // before "://"; empty when there is none
    std::string host;        // empty when no "/" follows the host
    std::uint16_t port = 0;  // 0 when the URL names none
    std::string object;      // after the first "/" behind the host, without that "/"
};

url_parts split_url(const std::string& url);

}  // namespace orvel
