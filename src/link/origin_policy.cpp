#include "link/origin_policy.h"

#include <boost/algorithm/string.hpp>
#include <optional>

namespace orvel {

namespace {

struct origin_parts {
    std::string scheme;
    std::string host;
    std::string port;
};

std::string default_port(const std::string& scheme) {
    if (scheme == "http") {
        return "80";
    }
    if (scheme == "https") {
        return "443";
    }
    return "";
}

bool all_digits(const std::string& text) {
    return !text.empty() && text.size() <= 5 &&
           text.find_first_not_of("0123456789") == std::string::npos;
}

// "scheme://host[:port]" with nothing after it; letter case does not count. A bracketed
// IPv6 host keeps its brackets. A "*" port is taken only where the caller allows it.
std::optional<origin_parts> split_origin(std::string text, bool pattern) {
    boost::algorithm::to_lower(text);
    const std::size_t marker = text.find("://");
    if (marker == std::string::npos || marker == 0) {
        return std::nullopt;
    }
    origin_parts parts;
    parts.scheme = text.substr(0, marker);
    std::string rest = text.substr(marker + 3);
    if (rest.empty() || rest.find_first_of("/?#@\\ ") != std::string::npos) {
        return std::nullopt;
    }
    std::size_t port_colon = std::string::npos;
    if (rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos) {
            return std::nullopt;
        }
        if (close + 1 < rest.size()) {
            if (rest[close + 1] != ':') {
                return std::nullopt;
            }
            port_colon = close + 1;
        }
    } else {
        port_colon = rest.find(':');
    }
    parts.host = rest.substr(0, port_colon);
    if (port_colon == std::string::npos) {
        parts.port = default_port(parts.scheme);
    } else {
        parts.port = rest.substr(port_colon + 1);
        if (!(all_digits(parts.port) || (pattern && parts.port == "*"))) {
            return std::nullopt;
        }
    }
    std::string name = parts.host;
    if (pattern && boost::algorithm::starts_with(name, "*.")) {
        name.erase(0, 2);
    }
    if (name.empty() ||
        (name.front() != '[' &&
         name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-.") != std::string::npos)) {
        return std::nullopt;
    }
    return parts;
}

bool ends_with_label(const std::string& host, const std::string& suffix) {
    return host.size() > suffix.size() + 1 &&
           host.compare(host.size() - suffix.size(), suffix.size(), suffix) == 0 &&
           host[host.size() - suffix.size() - 1] == '.';
}

}  // namespace

origin_policy::origin_policy(const std::string& list) {
    std::vector<std::string> items;
    boost::algorithm::split(items, list, boost::algorithm::is_any_of(", \t\n"),
                            boost::algorithm::token_compress_on);
    for (const std::string& item : items) {
        const std::optional<origin_parts> parts = split_origin(item, true);
        if (!parts) {
            continue;
        }
        entry allowed{parts->scheme, parts->host, false, parts->port};
        if (boost::algorithm::starts_with(allowed.host, "*.")) {
            allowed.host.erase(0, 2);
            allowed.any_subdomain = true;
        }
        entries_.push_back(std::move(allowed));
    }
}

bool origin_policy::allows(const std::string& origin) const {
    const std::optional<origin_parts> parts = split_origin(origin, false);
    if (!parts) {
        return false;
    }
    for (const entry& allowed : entries_) {
        if (allowed.scheme != parts->scheme) {
            continue;
        }
        if (allowed.port != "*" && allowed.port != parts->port) {
            continue;
        }
        const bool host_matches = allowed.any_subdomain ? ends_with_label(parts->host, allowed.host)
                                                        : allowed.host == parts->host;
        if (host_matches) {
            return true;
        }
    }
    return false;
}

}  // namespace orvel
