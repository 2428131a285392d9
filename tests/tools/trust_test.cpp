// orvelsync-trust against real NSS stores in a temporary home: what certutil finds after it.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include "support/temp_folder.h"
#include "support/tool_layout.h"

namespace orvel {
namespace {

using test::held_certificates;
using test::held_trust;
using test::pem_body;
using test::read_file;

// The stores' files, to tell a store that was written from one that was not.
std::string store_bytes(const std::string& store) {
    return read_file(store + "/cert9.db") + read_file(store + "/key4.db");
}

class Trust : public ::testing::Test {
protected:
    test::tool_layout tools;
    const std::string firefox = tools.add_firefox_profile("x1y2z3.default-esr");

    std::string certificate() const { return pem_body(read_file(tools.certificate_path())); }
};

TEST_F(Trust, AddsTheCertificateToChromiumAndFirefoxWhereCertutilFindsIt) {
    // No Chromium store yet, as before the browser's first start: it is made.
    const test::command_result added = tools.run("orvelsync-trust");
    ASSERT_EQ(added.status, 0) << added.output;
    EXPECT_NE(added.output.find("Chromium and Chrome (" + tools.chromium_store() + "): added"),
              std::string::npos)
        << added.output;
    EXPECT_NE(added.output.find("Firefox profile x1y2z3.default-esr: added"), std::string::npos)
        << added.output;

    EXPECT_EQ(held_certificates(tools.chromium_store()), std::vector<std::string>{certificate()});
    EXPECT_EQ(held_certificates(firefox), std::vector<std::string>{certificate()});
    // Chromium: a trusted server certificate; Firefox only takes it as its own issuer.
    EXPECT_EQ(held_trust(tools.chromium_store()), "P,,");
    EXPECT_EQ(held_trust(firefox), "C,,");
    EXPECT_EQ(tools.run("orvelsync-trust", {"--check"}).status, 0);
}

TEST_F(Trust, SecondAddChangesNothing) {
    ASSERT_EQ(tools.run("orvelsync-trust").status, 0);
    const std::string chromium_before = store_bytes(tools.chromium_store());
    const std::string firefox_before = store_bytes(firefox);

    const test::command_result again = tools.run("orvelsync-trust");
    EXPECT_EQ(again.status, 0) << again.output;
    EXPECT_NE(again.output.find("): already trusts it"), std::string::npos) << again.output;
    EXPECT_EQ(again.output.find("added"), std::string::npos) << again.output;
    EXPECT_EQ(store_bytes(tools.chromium_store()), chromium_before);
    EXPECT_EQ(store_bytes(firefox), firefox_before);
    EXPECT_EQ(held_certificates(tools.chromium_store()).size(), 1u);
}

TEST_F(Trust, RemoveTakesItOutOfEveryStore) {
    ASSERT_EQ(tools.run("orvelsync-trust").status, 0);
    const test::command_result removed = tools.run("orvelsync-trust", {"--remove"});
    EXPECT_EQ(removed.status, 0) << removed.output;
    EXPECT_TRUE(held_certificates(tools.chromium_store()).empty());
    EXPECT_TRUE(held_certificates(firefox).empty());
    EXPECT_EQ(held_trust(firefox), std::nullopt);

    const test::command_result check = tools.run("orvelsync-trust", {"--check"});
    EXPECT_EQ(check.status, 1);
    EXPECT_NE(check.output.find("Firefox profile x1y2z3.default-esr: does not trust"),
              std::string::npos)
        << check.output;
    // Nothing left to remove is no failure.
    EXPECT_EQ(tools.run("orvelsync-trust", {"--remove"}).status, 0);
}

TEST_F(Trust, NewCertificateReplacesTheOldOne) {
    ASSERT_EQ(tools.run("orvelsync-trust").status, 0);
    const std::string old_certificate = certificate();
    tools.make_certificate(false);
    ASSERT_NE(certificate(), old_certificate);
    EXPECT_EQ(tools.run("orvelsync-trust", {"--check"}).status, 1);

    const test::command_result added = tools.run("orvelsync-trust");
    EXPECT_EQ(added.status, 0) << added.output;
    EXPECT_EQ(held_certificates(tools.chromium_store()), std::vector<std::string>{certificate()});
    EXPECT_EQ(held_certificates(firefox), std::vector<std::string>{certificate()});
}

TEST_F(Trust, CertificateThatMaySignOthersIsNeverTrustedAsAnIssuer) {
    tools.make_certificate(true);
    const test::command_result added = tools.run("orvelsync-trust");
    EXPECT_EQ(added.status, 0) << added.output;
    EXPECT_EQ(held_trust(tools.chromium_store()), "P,,");
    // Firefox would need "C" for it, which would let its key sign for any site.
    EXPECT_TRUE(held_certificates(firefox).empty());
    EXPECT_NE(added.output.find("Firefox profile x1y2z3.default-esr: not changed"),
              std::string::npos)
        << added.output;
    EXPECT_EQ(tools.run("orvelsync-trust", {"--check"}).status, 1);
}

TEST_F(Trust, MissingCertificateFailsAndMakesNoStore) {
    boost::filesystem::remove(tools.certificate_path());
    const test::command_result added = tools.run("orvelsync-trust");
    EXPECT_EQ(added.status, 1);
    EXPECT_NE(added.output.find("cannot read the agent's certificate"), std::string::npos)
        << added.output;
    EXPECT_FALSE(boost::filesystem::exists(tools.chromium_store()));
    EXPECT_EQ(tools.run("orvelsync-trust", {"--bogus"}).status, 2);
}

}  // namespace
}  // namespace orvel
