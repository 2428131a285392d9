#include "platform/trust_store.h"

namespace orvel::platform {

std::vector<std::vector<std::uint8_t>> system_root_certificates() {
    // OpenSSL's default verify paths are the system's store here.
    return {};
}

}  // namespace orvel::platform
