#include "cloud/sync_response.h"

#include "base/failures.h"
#include "cloud/json_text.h"

namespace orvel {

namespace {

bool contains(const std::string& text, const char* fragment) {
    return text.find(fragment) != std::string::npos;
}

}  // namespace

void sync_response::parse(data_stream& stream) {
    reset();

    std::string text(stream.size(), '\0');
    stream.rewind();
    if (!text.empty()) {
        stream.read(text);
    }

    Json::Value root;
    std::string errors;
    if (!parse_json(text, root, errors)) {
        raise_sync_error(sync_error_code::bad_response, "sync_response parse failed: %s. %s",
                         errors.c_str(), text.c_str());
    }
    if (!root.isNull() && !root.isObject()) {
        raise_sync_error(sync_error_code::bad_response, "sync_response %s should be an object",
                         text.c_str());
    }
    parse_root(root, text);
}

void sync_response::parse_root(const Json::Value& root, const std::string& text) {
    if (!root.isMember("Status") || !root.isMember("ErrorMessage")) {
        raise_sync_error(sync_error_code::bad_response, "Status or ErrorMessage missing in %s",
                         text.c_str());
    }
    const Json::Value& status_value = root["Status"];
    const Json::Value& message_value = root["ErrorMessage"];
    if (!status_value.isInt() || !message_value.isString()) {
        raise_sync_error(sync_error_code::bad_response, "Wrong Status or ErrorMessage type in %s",
                         text.c_str());
    }
    status = status_value.asInt();
    error_message = message_value.asString();
    if (root.isMember("ErrorDetails")) {
        error_details = compact_json(root["ErrorDetails"]) + "\n";
    }

    switch (status) {
        case 1:
            return;
        case 214:
            raise_sync_error(sync_error_code::service_status_214);
        case 218:
            raise_sync_error(sync_error_code::service_status_218);
        case 501:
            if (contains(error_details, "\"name\":\"MemberProduct\"") &&
                contains(error_details, "\"propertyName\":\"id_coursesyncindex\"")) {
                raise_sync_error(sync_error_code::course_sync_index);
            }
            if (contains(error_details, "\"name\":\"ProductHardwareUpdateType\"") &&
                contains(error_details, "\"propertyName\":\"id_lastsyncindextype\"")) {
                raise_sync_error(sync_error_code::sync_index_not_repaired, "%s",
                                 error_details.c_str());
            }
            if (contains(error_details, "\"name\":\"CourseSyncIndexType\"") &&
                contains(error_details, "\"propertyName\":\"type\"")) {
                raise_sync_error(sync_error_code::sync_index_not_repaired, "%s",
                                 error_details.c_str());
            }
            break;
        case 503:
            if (contains(error_details, "serialNumber")) {
                raise_sync_error(sync_error_code::serial_number_rejected);
            }
            break;
        default:
            break;
    }
    raise_sync_error(sync_error_code::bad_response, "Response: %d %s %s", status,
                     error_message.c_str(), error_details.c_str());
}

void sync_response::reset() {
    status = -1;
    error_message.clear();
    error_details.clear();
}

}  // namespace orvel
