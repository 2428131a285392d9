// The member's credentials and cloud host, as the last "SearchDevice" gave them.
#pragma once

#include <cstdint>
#include <string>

namespace orvel {

struct connection_settings {
    std::string server;
    std::string userKey;
    std::string userSecret;
    std::string serialNumber;
    std::uint32_t id_memberProduct = 0;
};

}  // namespace orvel
