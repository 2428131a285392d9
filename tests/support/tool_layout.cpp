#include "support/tool_layout.h"

#include <boost/filesystem.hpp>
#include <sstream>
#include <stdexcept>

#include "support/agent_process.h"

namespace orvel::test {

namespace fs = boost::filesystem;

namespace {

#ifdef ORVEL_TOOLS_DIR
const std::string tools_dir = ORVEL_TOOLS_DIR;
#else
const std::string tools_dir;
#endif
const std::string nickname = "Orvel Sync";

void require(const command_result& result, const std::string& what) {
    if (result.status != 0) {
        throw std::runtime_error(what + " failed: " + result.output);
    }
}

}  // namespace

tool_layout::tool_layout() {
    fs::create_directories(folder_ / "bin");
    fs::create_directories(folder_ / "lib/orvelsync");
    fs::create_directories(home());
    for (const char* script : {"orvelsync-trust", "orvelsync-doctor"}) {
        fs::copy_file(tools_dir + script, folder_ / "bin/" + script);
    }
    // A copy, not a link: the agent looks for a site's pair beside its own file.
    fs::copy_file(built_agent_path(), folder_ / "lib/orvelsync/orvelsync");
    make_certificate(false);
}

command_result tool_layout::run(
    const std::string& script, const std::vector<std::string>& arguments,
    std::vector<std::pair<std::string, std::string>> environment) const {
    std::vector<std::string> command = {folder_ / "bin/" + script};
    command.insert(command.end(), arguments.begin(), arguments.end());
    environment.emplace_back("HOME", home());
    environment.emplace_back("XDG_CONFIG_HOME", home() + "/.config");
    return run_command(command, environment);
}

void tool_layout::make_certificate(bool may_sign_others) {
    std::vector<std::string> command = {"openssl",
                                        "req",
                                        "-x509",
                                        "-newkey",
                                        "ec",
                                        "-pkeyopt",
                                        "ec_paramgen_curve:prime256v1",
                                        "-nodes",
                                        "-days",
                                        "30",
                                        "-subj",
                                        "/CN=localhost",
                                        "-addext",
                                        "subjectAltName=DNS:localhost,IP:127.0.0.1",
                                        "-keyout",
                                        folder_ / "lib/orvelsync/localhost.key",
                                        "-out",
                                        certificate_path()};
    if (!may_sign_others) {
        command.insert(command.end(), {"-addext", "basicConstraints=critical,CA:FALSE"});
    }
    require(run_command(command), "openssl req");
}

void tool_layout::remove_site_certificate() const {
    fs::remove(certificate_path());
    fs::remove(folder_ / "lib/orvelsync/localhost.key");
}

void tool_layout::use_certificate(const std::string& path) {
    fs::copy_file(path, certificate_path(), fs::copy_options::overwrite_existing);
}

std::string tool_layout::add_firefox_profile(const std::string& name) const {
    const std::string profile = home() + "/.mozilla/firefox/" + name;
    fs::create_directories(profile);
    require(run_command({"certutil", "-N", "-d", "sql:" + profile, "--empty-password"}),
            "certutil -N");
    return profile;
}

std::vector<std::string> held_certificates(const std::string& store) {
    const command_result listed =
        run_command({"certutil", "-L", "-d", "sql:" + store, "-n", nickname, "-a"});
    std::vector<std::string> bodies;
    if (listed.status != 0) {
        return bodies;
    }
    const std::string end = "-----END CERTIFICATE-----";
    std::size_t from = 0;
    for (std::size_t stop; (stop = listed.output.find(end, from)) != std::string::npos;
         from = stop + end.size()) {
        bodies.push_back(pem_body(listed.output.substr(from, stop + end.size() - from)));
    }
    return bodies;
}

std::optional<std::string> held_trust(const std::string& store) {
    const command_result listed = run_command({"certutil", "-L", "-d", "sql:" + store});
    std::istringstream lines(listed.output);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(nickname + " ", 0) == 0) {
            std::istringstream fields(line.substr(nickname.size()));
            std::string trust;
            fields >> trust;
            return trust;
        }
    }
    return std::nullopt;
}

std::string pem_body(const std::string& pem) {
    std::string body;
    std::istringstream lines(pem);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty() && line.rfind("-----", 0) != 0) {
            body += line;
        }
    }
    return body;
}

}  // namespace orvel::test
