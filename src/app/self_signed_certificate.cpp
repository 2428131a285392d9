#include "app/self_signed_certificate.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

#include "base/failures.h"

namespace orvel {

namespace {

template <typename T, void (*release)(T*)>
struct openssl_deleter {
    void operator()(T* object) const { release(object); }
};
template <typename T, void (*release)(T*)>
using owned = std::unique_ptr<T, openssl_deleter<T, release>>;

using owned_key = owned<EVP_PKEY, EVP_PKEY_free>;
using owned_x509 = owned<X509, X509_free>;
using owned_bio = owned<BIO, BIO_free_all>;
using owned_extension = owned<X509_EXTENSION, X509_EXTENSION_free>;
using owned_bignum = owned<BIGNUM, BN_free>;

// Throws OpenSSL's reason for the failed step.
void check(bool succeeded, const char* step) {
    if (succeeded) {
        return;
    }
    char text[256] = "no reason given";
    if (const unsigned long error = ERR_get_error()) {
        ERR_error_string_n(error, text, sizeof text);
    }
    ERR_clear_error();
    throw intl_exception(std::string(step) + " failed: " + text);
}

std::string bio_text(BIO* bio) {
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    return std::string(data, static_cast<std::size_t>(length));
}

void add_extension(X509* certificate, int nid, const std::string& value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    const owned_extension extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str()));
    check(extension != nullptr, "X509V3_EXT_conf_nid");
    check(X509_add_ext(certificate, extension.get(), -1) == 1, "X509_add_ext");
}

}  // namespace

pem_pair make_self_signed_certificate(const std::string& host, int days) {
    const owned_key key(EVP_EC_gen("P-256"));
    check(key != nullptr, "EVP_EC_gen");
    const owned_x509 certificate(X509_new());
    check(certificate != nullptr, "X509_new");
    X509* const x509 = certificate.get();
    check(X509_set_version(x509, X509_VERSION_3) == 1, "X509_set_version");
    // A random serial number, so that a renewed certificate is never taken for the old one.
    const owned_bignum serial(BN_new());
    check(serial != nullptr && BN_rand(serial.get(), 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1,
          "BN_rand");
    check(BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(x509)) != nullptr,
          "BN_to_ASN1_INTEGER");
    check(X509_gmtime_adj(X509_getm_notBefore(x509), 0) != nullptr &&
              X509_gmtime_adj(X509_getm_notAfter(x509), 60L * 60 * 24 * days) != nullptr,
          "X509_gmtime_adj");
    X509_NAME* const name = X509_get_subject_name(x509);
    check(X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                     reinterpret_cast<const unsigned char*>(host.c_str()), -1, -1,
                                     0) == 1,
          "X509_NAME_add_entry_by_txt");
    check(X509_set_issuer_name(x509, name) == 1, "X509_set_issuer_name");
    check(X509_set_pubkey(x509, key.get()) == 1, "X509_set_pubkey");
    // Browsers reach the agent as localhost, which they may resolve to either loopback
    // address; a site's build names its own host.
    std::string names = "DNS:localhost,IP:127.0.0.1,IP:::1";
    if (host != "localhost") {
        names = "DNS:" + host + "," + names;
    }
    add_extension(x509, NID_subject_alt_name, names);
    // A server's certificate only: one that may sign others would let its key speak for any
    // site once a browser trusts it.
    add_extension(x509, NID_basic_constraints, "critical,CA:FALSE");
    add_extension(x509, NID_ext_key_usage, "serverAuth");
    add_extension(x509, NID_subject_key_identifier, "hash");
    check(X509_sign(x509, key.get(), EVP_sha256()) > 0, "X509_sign");

    const owned_bio key_text(BIO_new(BIO_s_mem()));
    const owned_bio certificate_text(BIO_new(BIO_s_mem()));
    check(key_text != nullptr && certificate_text != nullptr, "BIO_new");
    check(PEM_write_bio_PrivateKey(key_text.get(), key.get(), nullptr, nullptr, 0, nullptr,
                                   nullptr) == 1,
          "PEM_write_bio_PrivateKey");
    check(PEM_write_bio_X509(certificate_text.get(), x509) == 1, "PEM_write_bio_X509");
    return {bio_text(key_text.get()), bio_text(certificate_text.get())};
}

std::optional<int> certificate_days_left(const std::string& cert_path,
                                         const std::string& key_path) {
    const owned_bio cert_file(BIO_new_file(cert_path.c_str(), "r"));
    const owned_bio key_file(BIO_new_file(key_path.c_str(), "r"));
    const owned_x509 certificate(
        cert_file ? PEM_read_bio_X509(cert_file.get(), nullptr, nullptr, nullptr) : nullptr);
    const owned_key key(
        key_file ? PEM_read_bio_PrivateKey(key_file.get(), nullptr, nullptr, nullptr) : nullptr);
    int days = 0;
    int seconds = 0;
    const bool usable =
        certificate != nullptr && key != nullptr &&
        X509_check_private_key(certificate.get(), key.get()) == 1 &&
        ASN1_TIME_diff(&days, &seconds, nullptr, X509_get0_notAfter(certificate.get())) == 1;
    // A file that does not parse leaves its reason queued; the caller only needs the answer.
    ERR_clear_error();
    if (!usable) {
        return std::nullopt;
    }
    return seconds < 0 && days == 0 ? -1 : days;
}

}  // namespace orvel
