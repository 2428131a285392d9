// Which certificate and key the agent serves the page with: a pair beside the executable, or
// the member's own, which no other user can read.
#pragma once

#include <string>

namespace orvel {

// A member's pair is made for two years and renewed when less than a month is left, so
// the browsers that trust it are brought up to date long before it runs out.
inline constexpr int member_certificate_days = 730;
inline constexpr int member_certificate_renew_days = 30;

struct certificate_files {
    std::string key;
    std::string certificate;
};

struct certificate_choice {
    certificate_files files;
    // For the log: the member's pair made or renewed; empty when nothing was made.
    std::string note;
    // Why the member's own pair cannot be used; the files are then those beside the
    // executable, which are missing, so every handshake fails and says so.
    std::string problem;
};

// The pair beside the executable when both of its files are there (a site's real
// certificate, a developer build's pair). Otherwise the member's own pair in member_dir
// (made private), made when it is missing or unusable and renewed when it has less than
// member_certificate_renew_days left.
certificate_choice choose_certificate(const certificate_files& beside,
                                      const std::string& member_dir, const std::string& host);

}  // namespace orvel
