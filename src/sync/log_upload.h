// After a failure, the log file goes to the upload address the cloud service hands out.
#pragma once

#include <string>

#include "base/events.h"
#include "cloud/connection_settings.h"
#include "cloud/sync_response.h"

namespace orvel {

class logupload_response : public sync_response {
public:
    void parse_root(const Json::Value& root, const std::string& text) override;
    void reset() override;

    std::string logURL;
};

// Only with a member (id_memberProduct above 0 as a signed number); throws coded failures
// (300, 400) and what the upload throws.
void upload_log(const connection_settings& settings, const std::string& log_path,
                event_base& interrupt_event);

}  // namespace orvel
