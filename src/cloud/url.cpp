#include "cloud/url.h"

namespace orvel {

url_parts split_url(const std::string& url) {
    url_parts parts;
    std::size_t host_start = 0;
    const std::size_t scheme_end = url.find("://");
    if (scheme_end != std::string::npos) {
        parts.scheme = url.substr(0, scheme_end);
        host_start = scheme_end + 3;
    }

    std::size_t object_start = host_start;
    const std::size_t slash = url.find('/', host_start);
    if (slash != std::string::npos) {
        parts.host = url.substr(host_start, slash - host_start);
        object_start = slash + 1;
    }
    parts.object = url.substr(object_start);

    const std::size_t colon = parts.host.find(':');
    if (colon != std::string::npos) {
        // Digits up to the first other character. A number beyond 16 bits names no port,
        // so the scheme's default stands.
        std::uint32_t port = 0;
        for (std::size_t at = colon + 1; at < parts.host.size(); ++at) {
            const char c = parts.host[at];
            if (c < '0' || c > '9') {
                break;
            }
            port = port * 10 + static_cast<std::uint32_t>(c - '0');
            if (port > 0xFFFF) {
                port = 0;
                break;
            }
        }
        parts.port = static_cast<std::uint16_t>(port);
        parts.host.erase(colon);
    }
    return parts;
}

}  // namespace orvel
