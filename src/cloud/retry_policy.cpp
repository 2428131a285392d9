#include "cloud/retry_policy.h"

#include "base/failures.h"
#include "base/log_hub.h"

namespace orvel {

void retry_transfer(retry_policy policy, event_base& event, const std::function<void()>& attempt,
                    const std::function<void()>& before_retry) {
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
