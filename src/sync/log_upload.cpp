#include "sync/log_upload.h"

#include <cstdint>

#include "base/failures.h"
#include "base/log_hub.h"
#include "cloud/http_transport.h"
#include "cloud/rest_request.h"
#include "platform/file_ops.h"
#include "platform/memory_stream.h"

namespace orvel {

void logupload_response::parse_root(const Json::Value& root, const std::string& text) {
    sync_response::parse_root(root, text);
    if (!root.isMember("logURL")) {
        raise_sync_error(sync_error_code::bad_response, "uploadURL must be present in %s",
                         text.c_str());
    }
    const Json::Value& url = root["logURL"];
    if (!url.isString()) {
        raise_sync_error(sync_error_code::bad_response, "urls and files must be a string in %s",
                         text.c_str());
    }
    logURL = url.asString();
}

void logupload_response::reset() {
    sync_response::reset();
    logURL.clear();
}

void upload_log(const connection_settings& settings, const std::string& log_path,
                event_base& interrupt_event) {
    if (static_cast<std::int32_t>(settings.id_memberProduct) <= 0) {
        return;
    }
    memory_stream response(32768);
    request_context context{response, settings};
    try {
        rest_post(context, "MemberLogUploadURL/", Json::Value(Json::nullValue));
    } catch (const intl_exception& e) {
        log(3, "%s", e.message().c_str());
        raise_sync_error(sync_error_code::request_failed);
    }
    logupload_response answer;
    answer.parse(response);

    const std::string copy = log_path + "_tosend";
    platform::copy_file(log_path, copy);
    upload_file(answer.logURL, copy, interrupt_event);
}

}  // namespace orvel
