// The course update exchange that every unit model runs for "UpdateCourse".
#include <json/value.h>

#include "base/failures.h"
#include "base/log_hub.h"
#include "cloud/rest_request.h"
#include "devices/device_connection.h"
#include "platform/memory_stream.h"

namespace orvel {

namespace {

constexpr std::uint32_t response_reserve = 32768;

bool open_for_update(device_connection& connection) {
    try {
        return connection.open_device();
    } catch (const intl_exception& e) {
        log(3, "%s", e.message().c_str());
        return false;
    }
}

}  // namespace

int& sync_index_repairs() {
    // Only the update thread touches it.
    static int repairs = 0;
    return repairs;
}

void device_connection::update_course(const std::string& courseCode) {
    log(3, "Course: %s", courseCode.c_str());
    if (!open_for_update(*this)) {
        raise_sync_error(sync_error_code::device_not_opened);
    }

    memory_stream response(response_reserve);
    request_context context{response, settings_};
    try {
        Json::Value body(Json::objectValue);
        body["id_course"] = courseCode;
        rest_post(context, "DeviceCourseDataDetails/", body);
    } catch (const intl_exception& e) {
        log(3, "%s", e.message().c_str());
        raise_sync_error(sync_error_code::request_failed);
    }
    log(3, "after courseUpdateRequest");
    device_->course_response().parse(response);
    log(3, "after parse");

    try {
        bool written = false;
        try {
            written = device_->write_course();
        } catch (const intl_exception& e) {
            log(3, "%s", e.message().c_str());
        }
        if (!written) {
            raise_sync_error(sync_error_code::device_write_failed);
        }
    } catch (const sync_index_exception& mismatch) {
        if (sync_index_repairs()++ > 0) {
            raise_sync_error(sync_error_code::sync_index_not_repaired);
        }
        Json::Value body(Json::objectValue);
        body["courseCount"] = Json::UInt(mismatch.course_count());
        body["id_course"] = courseCode;
        rest_post(context, "CourseSyncIndexRestore/", body);
        device_->plain_response().parse(response);
        // The exchange itself is repeated, not a model's extension of it, which runs once
        // after this returns.
        device_connection::update_course(courseCode);
        return;
    }
    close_device();
}

}  // namespace orvel
