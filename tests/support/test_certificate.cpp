#include "support/test_certificate.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>
#include <stdexcept>

namespace orvel::test {

namespace {

template <typename T, void (*free_fn)(T*)>
struct openssl_free {
    void operator()(T* p) const { free_fn(p); }
};
using key_ptr = std::unique_ptr<EVP_PKEY, openssl_free<EVP_PKEY, EVP_PKEY_free>>;
using cert_ptr = std::unique_ptr<X509, openssl_free<X509, X509_free>>;
using bio_ptr = std::unique_ptr<BIO, openssl_free<BIO, BIO_free_all>>;

void require(bool ok, const char* step) {
    if (!ok) {
        throw std::runtime_error(std::string("test certificate: ") + step + " failed");
    }
}

}  // namespace

void write_test_certificate(const std::string& cert_path, const std::string& key_path,
                            const std::string& host) {
    key_ptr key(EVP_EC_gen("P-256"));
    require(key != nullptr, "key generation");
    cert_ptr cert(X509_new());
    require(cert != nullptr, "X509_new");
    require(X509_set_version(cert.get(), 2) == 1, "version");
    require(ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1) == 1, "serial");
    require(X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600) != nullptr, "not before");
    require(X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400L * 30) != nullptr, "not after");
    X509_NAME* name = X509_get_subject_name(cert.get());
    require(X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                       reinterpret_cast<const unsigned char*>(host.c_str()), -1, -1,
                                       0) == 1,
            "subject");
    require(X509_set_issuer_name(cert.get(), name) == 1, "issuer");
    require(X509_set_pubkey(cert.get(), key.get()) == 1, "public key");
    require(X509_sign(cert.get(), key.get(), EVP_sha256()) > 0, "signature");

    bio_ptr cert_out(BIO_new_file(cert_path.c_str(), "w"));
    require(cert_out != nullptr && PEM_write_bio_X509(cert_out.get(), cert.get()) == 1,
            "writing the certificate");
    bio_ptr key_out(BIO_new_file(key_path.c_str(), "w"));
    require(key_out != nullptr && PEM_write_bio_PrivateKey(key_out.get(), key.get(), nullptr,
                                                           nullptr, 0, nullptr, nullptr) == 1,
            "writing the key");
}

}  // namespace orvel::test
