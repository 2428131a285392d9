#include "app/member_certificate.h"

#include <filesystem>

#include "app/self_signed_certificate.h"
#include "base/failures.h"
#include "platform/private_files.h"

namespace orvel {

namespace {

bool exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

// Writes a new pair in place of the files; the key first, so that a pair cut short by a
// crash has a key that is not the certificate's, which the next start remakes.
std::string write_new_pair(const certificate_files& files, const std::string& host) {
    const pem_pair pair = make_self_signed_certificate(host, member_certificate_days);
    std::string problem;
    if (!platform::replace_file(files.key, pair.key, true, problem) ||
        !platform::replace_file(files.certificate, pair.certificate, false, problem)) {
        return problem;
    }
    return {};
}

}  // namespace

certificate_choice choose_certificate(const certificate_files& beside,
                                      const std::string& member_dir, const std::string& host) {
    certificate_choice choice;
    if (exists(beside.key) && exists(beside.certificate)) {
        choice.files = beside;
        return choice;
    }
    const auto refuse = [&](const std::string& problem) {
        choice.files = beside;
        choice.problem = problem;
        return choice;
    };
    if (member_dir.empty()) {
        return refuse("the user has no home folder for a certificate of its own");
    }
    std::string problem;
    if (!platform::prepare_private_dir(member_dir, true, problem)) {
        return refuse(problem);
    }
    const certificate_files own = {member_dir + host + ".key", member_dir + host + ".cert"};
    // Whatever stands at the names must be the member's own files; the key, the member's
    // alone.
    const bool had_certificate = exists(own.certificate);
    if (exists(own.key) && !(problem = platform::own_file_problem(own.key, true)).empty()) {
        return refuse(problem);
    }
    if (had_certificate &&
        !(problem = platform::own_file_problem(own.certificate, false)).empty()) {
        return refuse(problem);
    }
    const std::optional<int> days_left = certificate_days_left(own.certificate, own.key);
    if (!days_left || *days_left < member_certificate_renew_days) {
        try {
            problem = write_new_pair(own, host);
        } catch (const intl_exception& e) {
            problem = e.message();
        }
        if (!problem.empty()) {
            return refuse(problem);
        }
        if (!had_certificate) {
            choice.note = "Made the member's own certificate " + own.certificate;
        } else if (!days_left) {
            choice.note = "Made the member's own certificate anew, the old pair was unusable: " +
                          own.certificate;
        } else {
            choice.note = "Renewed the member's own certificate, which had " +
                          std::to_string(*days_left) + " days left: " + own.certificate;
        }
    }
    choice.files = own;
    return choice;
}

}  // namespace orvel
