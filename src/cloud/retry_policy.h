// How often and how patiently a failed transfer is tried again.
#pragma once

#include <cstdint>
#include <functional>

#include "base/events.h"
#include "base/failures.h"
#include "base/log_hub.h"

namespace orvel {

struct retry_policy {
    std::uint32_t max_retries;
    backoff_record delays;
};

// Three retries after the first attempt, 5, 10 and 15 s apart, waited on the caller's
// event so that a stop cuts the wait short.
inline constexpr retry_policy transfer_retries{3, {5000, 5000, 3, 0}};

// Runs attempt until it returns. A transport failure (http_exception) is logged and tried
// again after the policy's next delay and before_retry, and thrown once the retries are
// spent; any other failure passes at once. A stop during a delay throws extl_exception 1500.
inline void retry_transfer(retry_policy policy, event_base& event,
                           const std::function<void()>& attempt,
                           const std::function<void()>& before_retry = nullptr) {
    for (std::uint32_t retries = 0;;) {
        try {
            attempt();
            return;
        } catch (const http_exception& failure) {
            if (++retries > policy.max_retries) {
                throw;
            }
            log(3, "%s", failure.message().c_str());
            // Stopping while waiting to retry is an interruption like any other: a normal
            // return would pass the incomplete transfer on as done.
            if (event.wait(policy.delays)) {
                raise_sync_error(sync_error_code::interrupted);
            }
            if (before_retry) {
                before_retry();
            }
        }
    }
}

}  // namespace orvel
