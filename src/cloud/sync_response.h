// The envelope of every cloud answer: "Status", "ErrorMessage", "ErrorDetails".
#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>

#include "platform/data_stream.h"

namespace orvel {

class sync_response {
public:
    virtual ~sync_response() = default;

    // Checks the envelope and maps service errors to coded failures; derived classes read
    // their members after it.
    virtual void parse_root(const Json::Value& root, const std::string& text);
    virtual void reset();

    // Reads the whole stream; throws extl_exception on a bad answer.
    void parse(data_stream& stream);

    std::int32_t status = -1;
    std::string error_message;
    std::string error_details;  // compact JSON plus a line feed; empty when absent
};

}  // namespace orvel
