#include "devices/usbdisk/full_update_response.h"

#include "base/failures.h"
#include "devices/usbdisk/answer_values.h"

namespace orvel {

namespace {

bool is_list(const Json::Value& value) {
    return value.isNull() || value.isArray();
}

}  // namespace

void USBDiskRestoreResponse::parse_root(const Json::Value& root, const std::string& text) {
    sync_response::parse_root(root, text);
    const auto fail = [&](const char* format) {
        raise_sync_error(sync_error_code::bad_response, format, text.c_str());
    };
    if (!root.isMember("urls") || !root.isMember("files")) {
        fail("urls and files must be present in %s");
    }
    if (!root.isMember("version")) {
        fail("version must be present in %s");
    }
    const Json::Value& url_list = root["urls"];
    const Json::Value& file_list = root["files"];
    if (!is_list(url_list) || !is_list(file_list)) {
        fail("urls and files must be arrays in %s");
    }
    if (url_list.size() != file_list.size()) {
        fail("urls and files must be the same size in %s");
    }
    for (Json::ArrayIndex i = 0; i < url_list.size(); ++i) {
        if (!url_list[i].isString() || !file_list[i].isString()) {
            raise_sync_error(sync_error_code::bad_response,
                             "urls and files should contain strings (idx: %u) in %s", i,
                             text.c_str());
        }
        urls.push_back(url_list[i].asString());
        files.push_back(file_list[i].asString());
    }
    const Json::Value& version_value = root["version"];
    if (!is_integral_value(version_value)) {
        fail("version must be integral in %s");
    }
    version = static_cast<std::int32_t>(low_bits(version_value));
    if (root.isMember("setupType")) {
        if (!root["setupType"].isString()) {
            fail("setupType must be string in %s");
        }
        setupType = root["setupType"].asString();
    }
}

void USBDiskRestoreResponse::reset() {
    sync_response::reset();
    urls.clear();
    files.clear();
    setupType.clear();
    version = -1;
}

void USBDiskFullUpdateResponse::parse_root(const Json::Value& root, const std::string& text) {
    USBDiskRestoreResponse::parse_root(root, text);
    if (!user_scores.fill(root) || !articles.fill(root)) {
        raise_sync_error(sync_error_code::bad_response, "user scores fill failed for %s",
                         text.c_str());
    }
}

void USBDiskFullUpdateResponse::reset() {
    USBDiskRestoreResponse::reset();
    user_scores.reset();
    articles.reset();
}

}  // namespace orvel
