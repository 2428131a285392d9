// The agent's entry point: finds the certificate beside the executable and runs.
#include "app/run.h"
#include "platform/close_request.h"
#include "platform/executable_path.h"

int main() {
    // Before any thread exists, so that every thread inherits the blocked close requests.
    orvel::platform::block_close_requests();
    const std::string keys_dir = orvel::platform::executable_dir();
    const std::string host = ORVEL_LOCAL_HOST_NAME;
    return orvel::run(keys_dir + host + ".key", keys_dir + host + ".cert");
}
