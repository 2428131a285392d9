#include "devices/usbdisk/ephemerislog_response.h"

#include "base/failures.h"

namespace orvel {

void ephemerislog_response::parse_root(const Json::Value& root, const std::string& text) {
    sync_response::parse_root(root, text);
    if (root.isMember("url")) {
        if (!root["url"].isString()) {
            raise_sync_error(sync_error_code::bad_response, "url must be a string in %s",
                             text.c_str());
        }
        url = root["url"].asString();
    }
    if (root.isMember("days")) {
        // A JSON integer that fits: JsonCpp's isInt alone would also take 3.0.
        const Json::Value& value = root["days"];
        const Json::ValueType type = value.type();
        if ((type != Json::intValue && type != Json::uintValue) || !value.isInt()) {
            raise_sync_error(sync_error_code::bad_response, "days must be an integer in %s",
                             text.c_str());
        }
        days = value.asInt();
    }
}

void ephemerislog_response::reset() {
    sync_response::reset();
    url.clear();
    days = -1;
}

}  // namespace orvel
