// The Debian package as ctest's package_build made it: what it holds, what lintian says,
// what its maintainer scripts do in a root of their own, and the agent run from there.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <sstream>

#include "support/agent_process.h"
#include "support/command_run.h"
#include "support/page_client.h"
#include "support/temp_folder.h"
#include "support/test_certificate.h"

namespace orvel {
namespace {

namespace fs = boost::filesystem;
using test::command_result;
using test::read_file;
using test::run_command;

const std::string package_file = ORVEL_PACKAGE_FILE;
const std::string version = ORVEL_PACKAGE_VERSION;
const std::string agent_dir = "usr/lib/orvelsync/";
const std::string enabling_link =
    "etc/systemd/user/graphical-session.target.wants/orvelsync.service";

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class Package : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists(package_file))
            << package_file << " is missing: ctest makes it (package_build), or "
            << "cmake --build build --target package";
    }

    // The package's files and its control files (root/DEBIAN), as dpkg would lay them out.
    void extract() {
        const command_result files = run_command({"dpkg-deb", "-x", package_file, root.path()});
        ASSERT_EQ(files.status, 0) << files.output;
        const command_result control =
            run_command({"dpkg-deb", "-e", package_file, root / "DEBIAN"});
        ASSERT_EQ(control.status, 0) << control.output;
    }

    // A maintainer script as dpkg runs it for a root of its own.
    command_result maintainer_script(const std::string& name,
                                     const std::vector<std::string>& arguments) {
        std::vector<std::string> command = {root / ("DEBIAN/" + name)};
        command.insert(command.end(), arguments.begin(), arguments.end());
        return run_command(command, {{"DPKG_ROOT", root.path()}});
    }

    test::temp_folder root{"package"};
};

TEST_F(Package, LintianFindsNoErrors) {
    const command_result lintian =
        run_command({"lintian", "--fail-on", "error", "--tag-display-limit", "0", package_file});
    EXPECT_EQ(lintian.status, 0) << lintian.output;
    for (const std::string& line : lines_of(lintian.output)) {
        EXPECT_NE(line.rfind("E: ", 0), 0u) << line;
    }
}

TEST_F(Package, HoldsTheAgentItsUnitAndScriptsButNoKeyTestsOrTools) {
    const command_result listing = run_command({"dpkg-deb", "-c", package_file});
    ASSERT_EQ(listing.status, 0) << listing.output;
    for (const char* path :
         {"./usr/lib/orvelsync/orvelsync", "./usr/lib/systemd/user/orvelsync.service",
          "./usr/lib/systemd/user-preset/80-orvelsync.preset", "./usr/bin/orvelsync-trust",
          "./usr/bin/orvelsync-doctor", "./usr/bin/orvelsync -> ../lib/orvelsync/orvelsync",
          "./usr/lib/udev/rules.d/70-orvelsync.rules", "./usr/share/doc/orvelsync/copyright"}) {
        EXPECT_TRUE(contains(listing.output, " " + std::string(path) + "\n")) << path;
    }
    for (const std::string& line : lines_of(listing.output)) {
        // "drwxr-xr-x root/root 0 2024-06-03 12:00 ./usr/": the path is the sixth field.
        std::istringstream fields(line);
        std::string path;
        for (int field = 0; field < 6; ++field) {
            fields >> path;
        }
        EXPECT_TRUE(path == "./" || path.rfind("./usr/", 0) == 0) << line;
        // One key shipped to every member would be no secret; the tests and the
        // development tools are not the member's.
        EXPECT_FALSE(contains(path, ".key") || contains(path, ".cert")) << line;
        EXPECT_FALSE(contains(path, "_tests") || contains(path, "bench")) << line;
    }

    const command_result fields = run_command(
        {"dpkg-deb", "-f", package_file, "Package", "Version", "Depends", "Recommends"});
    ASSERT_EQ(fields.status, 0) << fields.output;
    EXPECT_TRUE(contains(fields.output, "Package: orvelsync\n")) << fields.output;
    EXPECT_TRUE(contains(fields.output, "Version: " + version + "\n")) << fields.output;
    // Computed from the agent's libraries, with openssl for the member's scripts.
    for (const char* dependency : {"libc6", "libssl3", "libsystemd0", "libjsoncpp", "openssl"}) {
        EXPECT_TRUE(contains(fields.output, dependency)) << dependency << "\n" << fields.output;
    }
    EXPECT_TRUE(contains(fields.output, "Recommends: libnss3-tools")) << fields.output;
}

TEST_F(Package, EveryProgramAnswersHelpAndHasAManualPage) {
    extract();
    for (const fs::directory_entry& entry : fs::directory_iterator(root / "usr/bin")) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(fs::exists(root / ("usr/share/man/man1/" + name + ".1.gz"))) << name;
        const command_result help = run_command({entry.path().string(), "--help"});
        EXPECT_EQ(help.status, 0) << name << ": " << help.output;
        EXPECT_TRUE(contains(help.output, "Usage: " + name)) << help.output;
    }
    const command_result agent_version = run_command({root / "usr/bin/orvelsync", "--version"});
    EXPECT_EQ(agent_version.status, 0);
    EXPECT_EQ(agent_version.output, "orvelsync " + version + "\n");
}

TEST_F(Package, UnitPassesSystemdAnalyzeVerify) {
    extract();
    // Only the system manager's verify takes a root, where the ExecStart file must be; it
    // finds the user unit through SYSTEMD_UNIT_PATH, and the targets of the default
    // dependencies in the machine's copies.
    fs::create_directories(root / "usr/lib/systemd/system");
    for (const fs::directory_entry& entry : fs::directory_iterator("/usr/lib/systemd/system")) {
        if (entry.path().extension() == ".target") {
            fs::copy_file(entry.path(),
                          root / ("usr/lib/systemd/system/" + entry.path().filename().string()));
        }
    }
    const command_result verify = run_command(
        {"systemd-analyze", "verify", "--root=" + root.path(), "--man=no", "orvelsync.service"},
        {{"SYSTEMD_UNIT_PATH", "/usr/lib/systemd/user:"}});
    EXPECT_EQ(verify.status, 0) << verify.output;
    // A misspelt key or value is only a warning to systemd, and one here is a fault.
    EXPECT_EQ(verify.output, "");
    const std::string unit = read_file(root / "usr/lib/systemd/user/orvelsync.service");
    EXPECT_TRUE(contains(unit, "ExecStart=/usr/lib/orvelsync/orvelsync\n")) << unit;
    EXPECT_TRUE(contains(unit, "ExecStartPre=-/usr/bin/orvelsync-trust --refresh\n")) << unit;
    EXPECT_TRUE(contains(unit, "Restart=on-failure\n")) << unit;
    EXPECT_TRUE(contains(unit, "WantedBy=graphical-session.target\n")) << unit;
}

// Faults caught: a key every user can read, made or kept by the package for all members.
TEST_F(Package, PostInstallMakesNoSharedPairTakesTheOldOneAwayAndKeepsASitesPair) {
    extract();
    const command_result installed = maintainer_script("postinst", {"configure", ""});
    ASSERT_EQ(installed.status, 0) << installed.output;
    const std::string cert = root / (agent_dir + "localhost.cert");
    const std::string key = root / (agent_dir + "localhost.key");
    EXPECT_FALSE(fs::exists(cert));
    EXPECT_FALSE(fs::exists(key));
    // Enabled for every user through the preset.
    EXPECT_TRUE(fs::is_symlink(root / enabling_link));
    ASSERT_EQ(maintainer_script("postinst", {"configure", version}).status, 0);
    EXPECT_TRUE(fs::is_symlink(root / enabling_link));
    // A site's own preset has the last word.
    fs::create_directories(root / "etc/systemd/user-preset");
    test::write_file(root / "etc/systemd/user-preset/10-site.preset",
                     "disable orvelsync.service\n");
    ASSERT_EQ(maintainer_script("postinst", {"configure", version}).status, 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(root / enabling_link)));

    // The pair earlier versions made for every user goes.
    ASSERT_EQ(run_command({"openssl",
                           "req",
                           "-x509",
                           "-newkey",
                           "ec",
                           "-pkeyopt",
                           "ec_paramgen_curve:prime256v1",
                           "-nodes",
                           "-sha256",
                           "-days",
                           "825",
                           "-subj",
                           "/CN=localhost",
                           "-addext",
                           "subjectAltName=DNS:localhost,IP:127.0.0.1",
                           "-addext",
                           "basicConstraints=critical,CA:FALSE",
                           "-addext",
                           "extendedKeyUsage=serverAuth",
                           "-keyout",
                           key,
                           "-out",
                           cert})
                  .status,
              0);
    ::chmod(key.c_str(), 0644);
    const command_result upgraded = maintainer_script("postinst", {"configure", version});
    EXPECT_EQ(upgraded.status, 0);
    EXPECT_TRUE(contains(upgraded.output, "removed the certificate earlier versions shared"))
        << upgraded.output;
    EXPECT_FALSE(fs::exists(cert));
    EXPECT_FALSE(fs::exists(key));

    // A site's own pair stays as it is.
    test::write_test_certificate(cert, key);
    ::chmod(key.c_str(), 0644);
    const std::string site_cert = read_file(cert);
    ASSERT_EQ(maintainer_script("postinst", {"configure", version}).status, 0);
    EXPECT_EQ(read_file(cert), site_cert);
    EXPECT_TRUE(fs::exists(key));
}

// Verified as far as this udev goes: udevadm reads the rule among the system's without a
// complaint (no udevadm verify before systemd 253; no USB bridge to match here).
TEST_F(Package, UdevRuleIsReadWithoutComplaint) {
    if (::geteuid() != 0 || run_command({"sh", "-c", "command -v udevadm"}).status != 0) {
        GTEST_SKIP() << "needs root (for a mount namespace) and udevadm (package udev)";
    }
    extract();
    const std::string rules = root / "usr/lib/udev/rules.d";
    // In a mount namespace of its own, the package's rules stand in /etc/udev/rules.d.
    const command_result tested = run_command({"unshare", "-m", "sh", "-c",
                                               "mount --bind \"$1\" /etc/udev/rules.d && "
                                               "udevadm test /sys/devices/virtual/mem/null 2>&1",
                                               "udev", rules});
    EXPECT_EQ(tested.status, 0) << tested.output;
    const std::string rule = "/etc/udev/rules.d/70-orvelsync.rules";
    EXPECT_TRUE(contains(tested.output, "Reading rules file: " + rule)) << tested.output;
    // udevadm names the file and line of every rule it cannot take.
    EXPECT_FALSE(contains(tested.output, rule + ":")) << tested.output;
}

TEST_F(Package, RemoveTakesBackTheEnablingAndPurgeTheCertificate) {
    extract();
    ASSERT_EQ(maintainer_script("postinst", {"configure", ""}).status, 0);
    ASSERT_TRUE(fs::is_symlink(root / enabling_link));
    // A site's pair, which only a purge takes.
    test::write_test_certificate(root / (agent_dir + "localhost.cert"),
                                 root / (agent_dir + "localhost.key"));

    const command_result removing = maintainer_script("prerm", {"remove"});
    EXPECT_EQ(removing.status, 0) << removing.output;
    EXPECT_FALSE(fs::exists(fs::symlink_status(root / enabling_link)));
    // dpkg then removes the package's own files; the certificate stays until a purge.
    for (const fs::directory_entry& entry : fs::directory_iterator(root / agent_dir)) {
        const std::string name = entry.path().filename().string();
        if (name != "localhost.cert" && name != "localhost.key") {
            fs::remove(entry.path());
        }
    }
    ASSERT_EQ(maintainer_script("postrm", {"remove"}).status, 0);
    EXPECT_TRUE(fs::exists(root / (agent_dir + "localhost.cert")));
    EXPECT_TRUE(fs::exists(root / (agent_dir + "localhost.key")));

    const command_result purged = maintainer_script("postrm", {"purge"});
    EXPECT_EQ(purged.status, 0) << purged.output;
    EXPECT_FALSE(fs::exists(root / agent_dir));
}

TEST_F(Package, ExtractedAgentServesThePageStatus0WithTheMembersOwnCertificate) {
    extract();
    ASSERT_EQ(maintainer_script("postinst", {"configure", ""}).status, 0);
    test::agent_options options;
    // Through the link in usr/bin, with no pair beside the file it leads to.
    options.executable = root / "usr/bin/orvelsync";
    options.in_place = true;
    test::agent_process agent(options);
    agent.start();
    const std::uint16_t port = agent.wait_for_port();
    ASSERT_NE(port, 0) << agent.terminal_output();

    test::page_client page;
    page.trust_only(agent.member_dir() + "localhost.cert", "localhost");
    ASSERT_TRUE(page.connect(port)) << page.failure();
    const auto status = page.wait_for_status(0);
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, "{\"Status\":0, \"Version\":\"" + version + "\"}");
    EXPECT_TRUE(agent.log_mentions("Keys path: " + agent.member_dir() + "localhost.key"));
    page.close();
    EXPECT_EQ(agent.stop(), 0);
}

}  // namespace
}  // namespace orvel
