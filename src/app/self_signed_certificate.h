// A self-signed certificate for the page's loopback server, and its key, made with OpenSSL.
#pragma once

#include <optional>
#include <string>

namespace orvel {

struct pem_pair {
    std::string key;
    std::string certificate;
};

// A new P-256 key and a certificate of a server only (CA:FALSE, serverAuth) for the host
// name, localhost, 127.0.0.1 and ::1, valid for `days` from now. Throws intl_exception
// with OpenSSL's reason.
pem_pair make_self_signed_certificate(const std::string& host, int days);
// Whole days the certificate file has left (negative once it ran out); nullopt when the
// certificate or the key cannot be read or the key is not the certificate's.
std::optional<int> certificate_days_left(const std::string& cert_path, const std::string& key_path);

}  // namespace orvel
