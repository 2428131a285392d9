// Which web pages may open the agent's socket. Any site the member visits could otherwise
// drive the unit and read the log stream, which carries the member's credentials.
#pragma once

#include <string>
#include <vector>

namespace orvel {

// The list the build allows (a build setting, like the certificate's host name):
// comma-separated "scheme://host[:port]" entries, where the port may be "*" (any) and the
// host may begin with "*." (any subdomain of the rest).
inline constexpr const char* built_in_origins = ORVEL_ALLOWED_ORIGINS;

class origin_policy {
public:
    // Entries that cannot be read are left out, so a typo allows less, never more.
    explicit origin_policy(const std::string& list = built_in_origins);

    // An Origin header's value: scheme, host and port must match one entry; a missing port
    // is the scheme's default. "null" and anything with a path never match.
    bool allows(const std::string& origin) const;

    std::size_t size() const { return entries_.size(); }

private:
    struct entry {
        std::string scheme;
        std::string host;  // without "*." when any_subdomain
        bool any_subdomain = false;
        std::string port;  // "*" for any
    };
    std::vector<entry> entries_;
};

}  // namespace orvel
