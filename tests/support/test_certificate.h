// A throw-away self-signed certificate and key, for servers under test.
#pragma once

#include <memory>
#include <string>

#include "sim/test_http_server.h"

namespace orvel::test {

// Writes a new P-256 key and a certificate for the host name, both PEM.
void write_test_certificate(const std::string& cert_path, const std::string& key_path,
                            const std::string& host = "localhost");

// A certificate authority of a test's own: a client trusts what it signed once told to
// trust its certificate file, the way a system store is pointed elsewhere (SSL_CERT_FILE).
class test_authority {
public:
    // Writes the authority's certificate to folder + name + ".pem".
    test_authority(const std::string& folder, const std::string& name);
    ~test_authority();
    test_authority(const test_authority&) = delete;
    test_authority& operator=(const test_authority&) = delete;

    const std::string& file() const { return file_; }
    // A server certificate for host (a DNS name or an IP address) and its key, signed by this
    // authority, written beside its certificate.
    tls_files issue(const std::string& host) const;

private:
    struct key;
    std::unique_ptr<key> key_;
    std::string folder_;
    std::string name_;
    std::string file_;
};

}  // namespace orvel::test
