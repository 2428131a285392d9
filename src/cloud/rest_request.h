// Signed JSON POSTs to the cloud service's REST interface.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <ctime>
#include <string>

#include "cloud/connection_settings.h"
#include "platform/data_stream.h"

namespace orvel {

// The application's own key pair, built in.
inline constexpr const char* application_key = "Kq7Rt2WmZx9LpVa";
inline constexpr const char* application_secret = "PLm4Xs9Q-bnT27wekcRUqZfhhYGpLd";

// The longest answer the service gives is far shorter; a longer one is refused before it
// takes memory.
inline constexpr std::uint64_t max_rest_answer = 16 * 1024 * 1024;

struct request_context {
    data_stream& response;  // receives the answer body; cleared before every request
    const connection_settings& settings;
    std::string key = application_key;
    std::string secret = application_secret;
};

// action ends with "/", e.g. "DeviceCourseDataDetails/". Adds "id_relationship" to the
// body; throws what the transport throws. The settings' server is a host name (plain HTTP,
// port 80 unless it names one) or a URL that begins with "https://" or "http://".
void rest_post(request_context& context, const std::string& action, Json::Value body);
// Empty when signing failed.
std::string sign_request(const request_context& context, const std::string& action,
                         const std::string& timestamp);
// "YYMMDDhhmmss+0000" in UTC.
std::string utc_timestamp(std::time_t when);
std::string utc_timestamp();
// "YYYY-MM-DD hh:mm:ss" in UTC.
std::string utc_date_text(std::time_t when);
// Compact, keys in byte order, one line feed at the end.
std::string request_body_text(const Json::Value& body);

}  // namespace orvel
