// A throw-away self-signed certificate and key, for servers under test.
#pragma once

#include <string>

namespace orvel::test {

// Writes a new P-256 key and a certificate for the host name, both PEM.
void write_test_certificate(const std::string& cert_path, const std::string& key_path,
                            const std::string& host = "localhost");

}  // namespace orvel::test
