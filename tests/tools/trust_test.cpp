// orvelsync-trust against real NSS stores in a temporary home: what certutil finds after it;
// and what orvelsync-doctor says of the certificate.
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

TEST_F(Trust, CertificateTheAgentCannotMakeFailsAndMakesNoStore) {
    // No site pair, and the member's own folder is a link, which the agent refuses.
    tools.remove_site_certificate();
    boost::filesystem::create_directories(tools.home() + "/.config");
    boost::filesystem::create_symlink(tools.home(), tools.home() + "/.config/orvelsync");
    const test::command_result added = tools.run("orvelsync-trust");
    EXPECT_EQ(added.status, 1);
    EXPECT_NE(added.output.find("is a symbolic link"), std::string::npos) << added.output;
    EXPECT_NE(added.output.find("the agent could not make your certificate"), std::string::npos)
        << added.output;
    EXPECT_FALSE(boost::filesystem::exists(tools.chromium_store()));
    EXPECT_EQ(tools.run("orvelsync-trust", {"--bogus"}).status, 2);
}

// Fault caught: a member without a site's pair left with nothing to trust, or with a pair
// trusted that the agent does not serve.
TEST_F(Trust, WithoutASitePairTheMembersOwnIsMadeAndTrusted) {
    tools.remove_site_certificate();
    const test::command_result added = tools.run("orvelsync-trust");
    ASSERT_EQ(added.status, 0) << added.output;
    const std::string own = pem_body(read_file(tools.member_dir() + "localhost.cert"));
    ASSERT_FALSE(own.empty()) << added.output;
    EXPECT_EQ(held_certificates(tools.chromium_store()), std::vector<std::string>{own});
    EXPECT_EQ(held_certificates(firefox), std::vector<std::string>{own});
    EXPECT_EQ(tools.run("orvelsync-trust", {"--check"}).status, 0);
}

// Fault caught: a renewed certificate the browsers do not trust, so the page stops reaching
// the agent, or one pushed into stores where the member never trusted it.
TEST_F(Trust, RefreshPutsTheRenewedCertificateWhereTheOldOneWasTrusted) {
    tools.remove_site_certificate();
    ASSERT_EQ(tools.run("orvelsync-trust").status, 0);
    const std::string later_profile = tools.add_firefox_profile("later.default");
    // The member's pair near its end, as two years later.
    const std::string cert = tools.member_dir() + "localhost.cert";
    ASSERT_EQ(test::run_command({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                                 "ec_paramgen_curve:prime256v1", "-nodes", "-days", "10", "-subj",
                                 "/CN=localhost", "-keyout", tools.member_dir() + "localhost.key",
                                 "-out", cert})
                  .status,
              0);
    const std::string old_certificate = pem_body(read_file(cert));

    const test::command_result refreshed = tools.run("orvelsync-trust", {"--refresh"});
    EXPECT_EQ(refreshed.status, 0) << refreshed.output;
    const std::string renewed = pem_body(read_file(cert));
    EXPECT_NE(renewed, old_certificate);
    EXPECT_EQ(held_certificates(tools.chromium_store()), std::vector<std::string>{renewed});
    EXPECT_EQ(held_certificates(firefox), std::vector<std::string>{renewed});
    EXPECT_EQ(held_trust(tools.chromium_store()), "P,,");
    EXPECT_EQ(held_trust(firefox), "C,,");
    EXPECT_TRUE(held_certificates(later_profile).empty());
    // Nothing more to do the next time.
    const test::command_result again = tools.run("orvelsync-trust", {"--refresh"});
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(again.output, "");
}

// The doctor's lines about the certificate and the serial bridges, as the member reads them.
TEST_F(Trust, DoctorNamesTheCertificateItsKeyAndTheSerialAccess) {
    const auto report = [&] { return tools.run("orvelsync-doctor").output; };
    const auto says = [](const std::string& text, const std::string& line) {
        return text.find(line) != std::string::npos;
    };
    std::string text = report();
    EXPECT_TRUE(says(text, "ok       the agent serves the site's certificate " +
                               tools.certificate_path() + " (key owned by "))
        << text;
    EXPECT_TRUE(says(text, "group")) << text;
    boost::filesystem::create_directories(tools.root() + "lib/udev/rules.d");
    test::write_file(tools.root() + "lib/udev/rules.d/70-orvelsync.rules", "");
    EXPECT_TRUE(says(report(), "ok       units with a serial bridge need no group")) << report();

    tools.remove_site_certificate();
    EXPECT_TRUE(says(report(), "lacking  you have no certificate of your own yet")) << report();
    ASSERT_EQ(tools.run("orvelsync-trust").status, 0);
    const std::string own = tools.member_dir() + "localhost.cert";
    text = report();
    EXPECT_TRUE(says(text, "ok       your certificate " + own + " (key owned by ")) << text;
    EXPECT_TRUE(says(text, ", mode 600; valid until ")) << text;
    EXPECT_TRUE(says(text, "ok       the browsers trust the agent's certificate")) << text;
    boost::filesystem::permissions(
        tools.member_dir() + "localhost.key",
        boost::filesystem::perms::owner_read | boost::filesystem::perms::others_read);
    EXPECT_TRUE(says(report(), "lacking  your certificate's key must be yours alone")) << report();
}

}  // namespace
}  // namespace orvel
