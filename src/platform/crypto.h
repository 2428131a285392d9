// Message authentication and text encoding of binary data, from the system's crypto library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvel::platform {

// HMAC-SHA256 (RFC 2104) of the message under the key: 32 bytes. False after logging when
// the library fails; mac is then empty.
bool hmac_sha256(const std::string& key, const std::string& message,
                 std::vector<std::uint8_t>& mac);
// Standard Base64 (A-Z, a-z, 0-9, "+", "/", "=" padding), one line.
std::string base64_encode(const std::uint8_t* bytes, std::size_t count);

}  // namespace orvel::platform
