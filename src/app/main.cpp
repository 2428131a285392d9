// The agent's entry point: finds the certificate beside the executable and runs.
#include <cstring>
#include <iostream>

#include "app/run.h"
#include "link/status.h"
#include "platform/close_request.h"
#include "platform/executable_path.h"

namespace {

const char* const help_text =
    "Usage: orvelsync [--help | --version]\n"
    "\n"
    "The Orvel Sync agent: serves the member's web page a TLS WebSocket on the first free\n"
    "port of 10001-10004 (127.0.0.1 only) and keeps the page's Orvel units up to date.\n"
    "It takes no other options; the page's commands carry everything else.\n"
    "\n"
    "Its certificate and key are " ORVEL_LOCAL_HOST_NAME ".cert and " ORVEL_LOCAL_HOST_NAME
    ".key\n"
    "beside the executable. Its log, OrvelSync2_Service.log, goes to $TMPDIR, else\n"
    "$XDG_RUNTIME_DIR/orvelsync/, else /tmp/orvelsync-<uid>/. SIGTERM, SIGINT and SIGHUP\n"
    "stop it.\n";

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
    // Before any thread exists, so that every thread inherits the blocked close requests.
    orvel::platform::block_close_requests();
    const std::string keys_dir = orvel::platform::executable_dir();
    const std::string host = ORVEL_LOCAL_HOST_NAME;
    return orvel::run(keys_dir + host + ".key", keys_dir + host + ".cert");
}
