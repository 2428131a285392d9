#include "platform/trust_store.h"

#include <gtest/gtest.h>

namespace orvel::platform {
namespace {

// The TLS library finds nothing of the system's store by itself here: without these roots
// every https download would fail to verify.
TEST(TrustStore, HandsOverTheSystemsRootsAsDerCertificates) {
    const auto roots = system_root_certificates();
    ASSERT_FALSE(roots.empty());
    for (const auto& der : roots) {
        ASSERT_GE(der.size(), 4u);
        EXPECT_EQ(der[0], 0x30);  // a SEQUENCE
        if (der[1] == 0x82) {     // its length in two bytes: all of the rest
            EXPECT_EQ(4u + (static_cast<std::size_t>(der[2]) << 8 | der[3]), der.size());
        }
    }
}

}  // namespace
}  // namespace orvel::platform
