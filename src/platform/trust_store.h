// The certificates the system trusts to vouch for a TLS server, for TLS code that does not
// find them by itself.
#pragma once

#include <cstdint>
#include <vector>

namespace orvel::platform {

// DER-encoded, beyond those the TLS library's own default places hold. Where those places
// are the system's store (POSIX systems: SSL_CERT_FILE, SSL_CERT_DIR and the distribution's
// bundle), the list is empty. Logs and returns what it has when the store cannot be read.
std::vector<std::vector<std::uint8_t>> system_root_certificates();

}  // namespace orvel::platform
