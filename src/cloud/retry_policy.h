// How often and how patiently a failed transfer is tried again.
#pragma once

#include <cstdint>

#include "base/events.h"

namespace orvel {

// Three retries after the first attempt, 5, 10 and 15 s apart, waited on the caller's
// event so that a stop cuts the wait short.
inline constexpr std::uint32_t max_transfer_retries = 3;

inline backoff_record transfer_retry_delays() {
    return backoff_record{5000, 5000, 3, 0};
}

}  // namespace orvel
