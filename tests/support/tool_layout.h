// The member's scripts laid out as the package installs them (bin/ beside lib/orvelsync/,
// which holds the agent and a site's certificate), run with a home folder of their own.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "support/command_run.h"
#include "support/temp_folder.h"

namespace orvel::test {

class tool_layout {
public:
    // Both scripts and the agent from the build, and a site's server certificate (not a CA)
    // for localhost beside the agent.
    tool_layout();

    // bin/<script> with the arguments, HOME set to home() and the settings in its .config.
    command_result run(const std::string& script, const std::vector<std::string>& arguments = {},
                       std::vector<std::pair<std::string, std::string>> environment = {}) const;

    // Replaces the agent's certificate with a new one: one that may sign others, as the
    // build makes it, or a server certificate only, as the package makes it.
    void make_certificate(bool may_sign_others);
    // Or with a copy of one that is there, such as the one a running agent serves.
    void use_certificate(const std::string& path);
    std::string certificate_path() const { return folder_ / "lib/orvelsync/localhost.cert"; }
    // Takes the site's pair away, so that the member's own is used.
    void remove_site_certificate() const;
    // Where the agent keeps the member's own pair.
    std::string member_dir() const { return home() + "/.config/orvelsync/"; }

    // The installation's root (what the package puts in /usr), ending with "/".
    const std::string& root() const { return folder_.path(); }
    std::string home() const { return folder_ / "home"; }
    std::string chromium_store() const { return home() + "/.pki/nssdb"; }
    // An empty store in a new Firefox profile, as Firefox makes it; answers the profile.
    std::string add_firefox_profile(const std::string& name) const;

private:
    temp_folder folder_{"tools"};
};

// The store's certificates under the agent's nickname, as certutil -L gives them (PEM
// bodies without line breaks).
std::vector<std::string> held_certificates(const std::string& store);
// The trust flags certutil -L lists for the nickname ("P,,"); nullopt when it has none.
std::optional<std::string> held_trust(const std::string& store);
// A PEM text's Base64 body without line breaks.
std::string pem_body(const std::string& pem);

}  // namespace orvel::test
