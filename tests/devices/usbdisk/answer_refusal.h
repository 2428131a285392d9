// How the tests of the USB-disk answers see one answer's parse.
#pragma once

#include <string>

#include "base/failures.h"
#include "cloud/sync_response.h"
#include "platform/memory_stream.h"

namespace orvel {

inline const std::string envelope = R"("Status":1,"ErrorMessage":"")";

// The failure's message, "" when the answer parsed; any failure but a 400 is reported.
inline std::string refusal(sync_response& response, const std::string& members) {
    const std::string text = "{" + envelope + members + "}";
    memory_stream stream;
    stream.write(text.data(), static_cast<std::uint32_t>(text.size()));
    try {
        response.parse(stream);
    } catch (const extl_exception& failure) {
        if (failure.code() != sync_error_code::bad_response) {
            return "code " + std::to_string(code_value(failure.code()));
        }
        return failure.message();
    }
    return std::string();
}

}  // namespace orvel
