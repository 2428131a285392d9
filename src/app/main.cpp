// The agent's entry point: finds the certificate beside the executable and runs.
#include <cstring>
#include <iostream>

#include "app/member_certificate.h"
#include "app/run.h"
#include "link/status.h"
#include "platform/close_request.h"
#include "platform/executable_path.h"
#include "platform/private_files.h"

namespace {

const char* const help_text =
    "Usage: orvelsync [--help | --version | --make-certificate]\n"
    "\n"
    "The Orvel Sync agent: serves the member's web page a TLS WebSocket on the first port\n"
    "of 10001-10004 free on 127.0.0.1 and ::1, to its own user's programs only, and keeps\n"
    "the page's Orvel units up to date.\n"
    "It takes no other options; the page's commands carry everything else.\n"
    "\n"
    "Its certificate and key are " ORVEL_LOCAL_HOST_NAME ".cert and " ORVEL_LOCAL_HOST_NAME
    ".key beside\n"
    "the executable when both are there; otherwise the member's own pair in\n"
    "$XDG_CONFIG_HOME/orvelsync/ (else ~/.config/orvelsync/), which the agent makes at start\n"
    "and renews when it has less than 30 days left. --make-certificate does that alone and\n"
    "prints the certificate's path. Its log, OrvelSync2_Service.log, goes to $TMPDIR when\n"
    "that is the user's alone, else to orvelsync-<uid>/ inside it; without $TMPDIR to\n"
    "$XDG_RUNTIME_DIR/orvelsync/, else /tmp/orvelsync-<uid>/. SIGTERM, SIGINT and SIGHUP\n"
    "stop it.\n";

orvel::certificate_files beside_executable() {
    const std::string keys_dir = orvel::platform::executable_dir();
    const std::string host = ORVEL_LOCAL_HOST_NAME;
    return {keys_dir + host + ".key", keys_dir + host + ".cert"};
}

// For the member's scripts: the certificate the agent will serve, made or renewed first.
int make_certificate() {
    const orvel::certificate_choice choice = orvel::choose_certificate(
        beside_executable(), orvel::platform::member_config_dir(), ORVEL_LOCAL_HOST_NAME);
    if (!choice.problem.empty()) {
        std::cerr << "orvelsync: the member's own certificate cannot be used: " << choice.problem
                  << "\n";
        return 1;
    }
    if (!choice.note.empty()) {
        std::cerr << "orvelsync: " << choice.note << "\n";
    }
    std::cout << choice.files.certificate << "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // These print and leave before anything starts; every other argument is ignored, as
    // the agent has always done.
    if (argc > 1 && std::strcmp(argv[1], "--help") == 0) {
        std::cout << help_text;
        return 0;
    }
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
        std::cout << "orvelsync " << orvel::page_version_text() << "\n";
        return 0;
    }
    if (argc > 1 && std::strcmp(argv[1], "--make-certificate") == 0) {
        return make_certificate();
    }
    // Before any thread exists, so that every thread inherits the blocked close requests.
    orvel::platform::block_close_requests();
    return orvel::run(beside_executable());
}
