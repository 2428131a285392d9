#include "support/test_certificate.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <boost/asio/ip/address.hpp>

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

// A certificate for the subject's common name, valid from an hour ago for 30 days.
cert_ptr new_certificate(EVP_PKEY* key, const std::string& common_name, long serial) {
    cert_ptr cert(X509_new());
    require(cert != nullptr, "X509_new");
    require(X509_set_version(cert.get(), 2) == 1, "version");
    require(ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial) == 1, "serial");
    require(X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600) != nullptr, "not before");
    require(X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400L * 30) != nullptr, "not after");
    require(X509_NAME_add_entry_by_txt(X509_get_subject_name(cert.get()), "CN", MBSTRING_ASC,
                                       reinterpret_cast<const unsigned char*>(common_name.c_str()),
                                       -1, -1, 0) == 1,
            "subject");
    require(X509_set_pubkey(cert.get(), key) == 1, "public key");
    return cert;
}

void add_extension(X509* cert, X509* issuer, int id, const std::string& value) {
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, id, value.c_str());
    require(extension != nullptr, "extension");
    const int added = X509_add_ext(cert, extension, -1);
    X509_EXTENSION_free(extension);
    require(added == 1, "adding an extension");
}

void write_pem(const std::string& path, X509* cert, EVP_PKEY* key) {
    bio_ptr out(BIO_new_file(path.c_str(), "w"));
    require(out != nullptr, "opening a PEM file");
    require(cert == nullptr || PEM_write_bio_X509(out.get(), cert) == 1, "writing a certificate");
    require(key == nullptr || PEM_write_bio_PrivateKey(out.get(), key, nullptr, nullptr, 0, nullptr,
                                                       nullptr) == 1,
            "writing a key");
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

struct test_authority::key {
    key_ptr pkey;
    cert_ptr cert;
};

test_authority::test_authority(const std::string& folder, const std::string& name)
    : key_(std::make_unique<key>()), folder_(folder), name_(name), file_(folder + name + ".pem") {
    key_->pkey.reset(EVP_EC_gen("P-256"));
    require(key_->pkey != nullptr, "key generation");
    key_->cert = new_certificate(key_->pkey.get(), "Orvel test authority " + name, 1);
    X509* cert = key_->cert.get();
    require(X509_set_issuer_name(cert, X509_get_subject_name(cert)) == 1, "issuer");
    add_extension(cert, cert, NID_basic_constraints, "critical,CA:TRUE");
    add_extension(cert, cert, NID_key_usage, "critical,keyCertSign,cRLSign");
    add_extension(cert, cert, NID_subject_key_identifier, "hash");
    require(X509_sign(cert, key_->pkey.get(), EVP_sha256()) > 0, "signature");
    write_pem(file_, cert, nullptr);
}

test_authority::~test_authority() = default;

tls_files test_authority::issue(const std::string& host) const {
    key_ptr pkey(EVP_EC_gen("P-256"));
    require(pkey != nullptr, "key generation");
    static long serial = 1;
    cert_ptr cert = new_certificate(pkey.get(), host, ++serial);
    X509* issuer = key_->cert.get();
    require(X509_set_issuer_name(cert.get(), X509_get_subject_name(issuer)) == 1, "issuer");
    boost::system::error_code not_an_address;
    boost::asio::ip::make_address(host, not_an_address);
    add_extension(cert.get(), issuer, NID_subject_alt_name,
                  (not_an_address ? "DNS:" : "IP:") + host);
    add_extension(cert.get(), issuer, NID_basic_constraints, "critical,CA:FALSE");
    add_extension(cert.get(), issuer, NID_ext_key_usage, "serverAuth");
    add_extension(cert.get(), issuer, NID_authority_key_identifier, "keyid");
    require(X509_sign(cert.get(), key_->pkey.get(), EVP_sha256()) > 0, "signature");

    const std::string stem = folder_ + name_ + "-" + host;
    tls_files files{stem + ".pem", stem + ".key"};
    write_pem(files.certificate, cert.get(), nullptr);
    write_pem(files.key, nullptr, pkey.get());
    return files;
}

}  // namespace orvel::test
