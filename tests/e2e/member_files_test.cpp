// The member's files as other users on the same computer could reach them: the built agent's
// own certificate, made and renewed for the member alone, and its log in a shared $TMPDIR.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>

#include "support/agent_process.h"
#include "support/command_run.h"
#include "support/page_client.h"
#include "support/temp_folder.h"

namespace orvel {
namespace {

namespace fs = boost::filesystem;
using test::agent_process;
using test::page_client;
using test::read_file;
using test::run_command;

unsigned mode_of(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// An agent with no pair beside it, as the package installs it.
agent_process member_agent() {
    test::agent_options options;
    options.with_certificate = false;
    options.with_key = false;
    return agent_process(options);
}

// Whether a page that trusts only this certificate file, for this name, gets in.
bool page_trusting_gets_in(std::uint16_t port, const std::string& certificate,
                           const std::string& name) {
    page_client page;
    page.trust_only(certificate, name);
    return page.connect(port) && page.wait_for_status(0).has_value();
}

// Whether the certificate still holds in that many days.
bool holds_in(const std::string& certificate, int days) {
    return run_command({"openssl", "x509", "-in", certificate, "-noout", "-checkend",
                        std::to_string(days * 86400)})
               .status == 0;
}

// Faults caught: a key others may read, a certificate for the wrong names or one that may
// sign others, a pair the agent makes but does not serve, and one made anew at every start
// (which would undo the browsers' trust).
TEST(MemberCertificate, MadeAtFirstStartForTheMemberAloneAndServed) {
    agent_process agent = member_agent();
    agent.start();
    const std::uint16_t port = agent.wait_for_port();
    ASSERT_NE(port, 0) << agent.terminal_output();
    const std::string folder = agent.member_dir();
    const std::string cert = folder + "localhost.cert";
    const std::string key = folder + "localhost.key";
    EXPECT_EQ(mode_of(folder), 0700u);
    EXPECT_EQ(mode_of(key), 0600u);
    EXPECT_TRUE(agent.log_mentions("Made the member's own certificate " + cert));
    EXPECT_TRUE(agent.log_mentions("Keys path: " + key));

    const test::command_result shown =
        run_command({"openssl", "x509", "-in", cert, "-noout", "-ext",
                     "subjectAltName,basicConstraints,extendedKeyUsage"});
    EXPECT_TRUE(
        contains(shown.output, "DNS:localhost, IP Address:127.0.0.1, IP Address:0:0:0:0:0:0:0:1"))
        << shown.output;
    EXPECT_TRUE(contains(shown.output, "critical\n    CA:FALSE")) << shown.output;
    EXPECT_TRUE(contains(shown.output, "TLS Web Server Authentication")) << shown.output;
    EXPECT_TRUE(holds_in(cert, 700));
    EXPECT_FALSE(holds_in(cert, 740));

    EXPECT_TRUE(page_trusting_gets_in(port, cert, "localhost"));
    EXPECT_TRUE(page_trusting_gets_in(port, cert, "127.0.0.1"));
    // The check is real: a page that trusts another certificate is not let in.
    const fs::path built_cert = fs::path(test::built_agent_path()).parent_path() / "localhost.cert";
    EXPECT_FALSE(page_trusting_gets_in(port, built_cert.string(), "localhost"));

    ASSERT_EQ(agent.stop(), 0);
    const std::string made = read_file(cert);
    agent.start();
    ASSERT_NE(agent.wait_for_port(), 0);
    EXPECT_EQ(read_file(cert), made);
    EXPECT_FALSE(agent.log_mentions("Made the member's own certificate"));
}

// Fault caught: a member's certificate that runs out while the agent keeps serving it.
TEST(MemberCertificate, PairWithLessThan30DaysLeftIsRenewedAtStart) {
    agent_process agent = member_agent();
    const std::string folder = agent.member_dir();
    const std::string cert = folder + "localhost.cert";
    const std::string key = folder + "localhost.key";
    fs::create_directories(folder);
    ASSERT_EQ(run_command({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                           "ec_paramgen_curve:prime256v1", "-nodes", "-days", "10", "-subj",
                           "/CN=localhost", "-keyout", key, "-out", cert})
                  .status,
              0);
    const std::string old_cert = read_file(cert);

    agent.start();
    const std::uint16_t port = agent.wait_for_port();
    ASSERT_NE(port, 0) << agent.terminal_output();
    EXPECT_TRUE(agent.log_mentions("Renewed the member's own certificate, which had "));
    EXPECT_NE(read_file(cert), old_cert);
    EXPECT_TRUE(holds_in(cert, 700));
    EXPECT_EQ(mode_of(key), 0600u);
    EXPECT_TRUE(page_trusting_gets_in(port, cert, "localhost"));
}

// Fault caught: the log, which carries the member's credentials, written into a file
// another user planted in a shared $TMPDIR, or through a folder that is a link.
TEST(SharedTmpdir, AgentWritesItsLogInAFolderOfItsOwnNotIntoAPlantedOne) {
    test::temp_folder shared("shared");
    ASSERT_EQ(::chmod(shared.path().c_str(), 01777), 0);
    const std::string planted = shared / "OrvelSync2_Service.log";
    test::write_file(planted, "");
    ::chmod(planted.c_str(), 0666);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(planted.c_str(), 4242, 4242), 0);
    }
    test::agent_options options;
    options.environment = {{"TMPDIR", shared.path()}};
    agent_process agent(options);
    agent.start();
    const std::uint16_t port = agent.wait_for_port();
    ASSERT_NE(port, 0) << agent.terminal_output();
    {
        page_client page;
        ASSERT_TRUE(page.connect(port));
        ASSERT_TRUE(page.wait_for_status(0));
        page.send(R"({"command":"SearchDevice","userSecret":"member-secret"})");
        ASSERT_TRUE(page.wait_for_mention("member-secret"));
    }
    ASSERT_EQ(agent.stop(), 0);
    const std::string own = shared / ("orvelsync-" + std::to_string(::geteuid()));
    EXPECT_EQ(mode_of(own), 0700u);
    EXPECT_TRUE(contains(read_file(own + "/OrvelSync2_Service.log"), "member-secret"));
    EXPECT_EQ(read_file(planted), "");

    // Its own folder replaced by a link: it does not start, and says why.
    fs::rename(own, shared / "moved");
    fs::create_symlink(shared / "moved", own);
    agent.start();
    EXPECT_EQ(agent.wait_exit(), 255);
    EXPECT_TRUE(contains(agent.terminal_output(), "Orvel Sync cannot use its temporary folder: " +
                                                      own + " is a symbolic link"))
        << agent.terminal_output();
}

// Faults caught: a log written through a link planted at its name, and a planted log of
// another user taken as the agent's own when it cannot be moved aside.
TEST(SharedTmpdir, LinkOrAnotherUsersFileAtTheLogsNameIsRefused) {
    agent_process agent;
    const std::string target = agent.folder() + "chosen-by-another";
    fs::create_symlink(target, agent.log_path());
    agent.start();
    EXPECT_EQ(agent.wait_exit(), 255);
    EXPECT_TRUE(contains(agent.terminal_output(),
                         "Orvel Sync cannot open its log: open failed: "
                         "Too many levels of symbolic links"))
        << agent.terminal_output();
    EXPECT_FALSE(fs::exists(target));

    if (::geteuid() != 0) {
        GTEST_SKIP() << "planting another user's file needs root";
    }
    fs::remove(agent.log_path());
    test::write_file(agent.log_path(), "");
    ASSERT_EQ(::chown(agent.log_path().c_str(), 4242, 4242), 0);
    fs::create_directory(agent.previous_log_path());
    agent.start();
    EXPECT_EQ(agent.wait_exit(), 255);
    EXPECT_TRUE(contains(agent.terminal_output(), "the file belongs to another user (4242)"))
        << agent.terminal_output();
    EXPECT_EQ(read_file(agent.log_path()), "");
}

}  // namespace
}  // namespace orvel
