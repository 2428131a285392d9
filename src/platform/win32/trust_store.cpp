#include "platform/trust_store.h"

#include <windows.h>
// wincrypt.h needs windows.h first.
#include <wincrypt.h>

#include <memory>
#include <type_traits>

#include "platform/system_error.h"

namespace orvel::platform {

namespace {

struct store_close {
    void operator()(HCERTSTORE store) const noexcept { ::CertCloseStore(store, 0); }
};
using store_handle = std::unique_ptr<std::remove_pointer_t<HCERTSTORE>, store_close>;

}  // namespace

std::vector<std::vector<std::uint8_t>> system_root_certificates() {
    std::vector<std::vector<std::uint8_t>> certificates;
    // The machine's and the user's trusted roots, as the system's own TLS client sees them.
    const store_handle store(::CertOpenSystemStoreA(0, "ROOT"));
    if (!store) {
        log_system_error("CertOpenSystemStoreA");
        return certificates;
    }
    PCCERT_CONTEXT certificate = nullptr;
    while ((certificate = ::CertEnumCertificatesInStore(store.get(), certificate)) != nullptr) {
        if ((certificate->dwCertEncodingType & X509_ASN_ENCODING) != 0) {
            certificates.emplace_back(certificate->pbCertEncoded,
                                      certificate->pbCertEncoded + certificate->cbCertEncoded);
        }
    }
    return certificates;
}

}  // namespace orvel::platform
