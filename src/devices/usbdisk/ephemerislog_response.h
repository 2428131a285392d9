// The answer to both ephemeris requests: the next file the service offers for the unit,
// and the day count to send back when it is stored.
#pragma once

#include <cstdint>
#include <string>

#include "cloud/sync_response.h"

namespace orvel {

class ephemerislog_response : public sync_response {
public:
    void parse_root(const Json::Value& root, const std::string& text) override;
    void reset() override;

    std::string url;  // empty: no file offered
    std::int32_t days = -1;
};

}  // namespace orvel
