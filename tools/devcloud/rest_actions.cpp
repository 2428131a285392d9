#include "devcloud/rest_actions.h"

#include <json/reader.h>
#include <json/writer.h>

#include <ctime>
#include <memory>
#include <regex>

#include "devcloud/sample_courses.h"

namespace orvel::devcloud {

namespace {

// An answer with the service's error status, thrown by the actions and answered whole.
struct refusal {
    int status;
    std::string message;
    Json::Value details = Json::nullValue;
};

Json::Value error_answer(const refusal& refused) {
    Json::Value answer(Json::objectValue);
    answer["Status"] = refused.status;
    answer["ErrorMessage"] = refused.message;
    if (!refused.details.isNull()) {
        answer["ErrorDetails"] = refused.details;
    }
    return answer;
}

Json::Value success() {
    Json::Value answer(Json::objectValue);
    answer["Status"] = 1;
    answer["ErrorMessage"] = "";
    return answer;
}

Json::Value parse_json(const std::string& text) {
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors)) {
        throw refusal{400, "Request body is not JSON", errors};
    }
    return root;
}

std::string required_text(const Json::Value& body, const char* name) {
    if (!body[name].isString()) {
        throw refusal{400, std::string(name) + " must be a string"};
    }
    return body[name].asString();
}

std::int64_t required_integer(const Json::Value& body, const char* name) {
    if (!body[name].isIntegral()) {
        throw refusal{400, std::string(name) + " must be an integer"};
    }
    return body[name].asInt64();
}

std::string base64(const std::string& bytes) {
    return test::reference_base64(bytes);
}

}  // namespace

rest_actions::rest_actions(member_state& members, const sample_files& files, std::string base_url)
    : members_(members), files_(files), base_url_(std::move(base_url)) {}

const std::vector<std::string>& rest_actions::names() {
    static const std::vector<std::string> all = {
        "DeviceCourseDataDetails", "CourseSyncIndexRestore",   "DeviceFullDataDetails",
        "DeviceRestore",           "DeviceFullDataConfirm",    "MemberLogUploadURL",
        "ProductEphemerisLogList", "ProductEphemerisLogCreate"};
    return all;
}

test::http_reply rest_actions::answer_of(const Json::Value& answer) {
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    return test::http_reply::json(Json::writeString(writer, answer));
}

test::http_reply rest_actions::answer(const test::recorded_request& request) {
    try {
        const Json::Value body = parse_json(request.body);
        if (!body.isObject() || !body["id_relationship"].isIntegral()) {
            throw refusal{400, "id_relationship must be present"};
        }
        const member* owner = members_.find_member(request.user_key);
        const product* unit =
            owner != nullptr
                ? members_.find_product(
                      *owner, static_cast<std::uint32_t>(body["id_relationship"].asLargestInt()))
                : nullptr;
        if (unit == nullptr) {
            throw refusal{404, "No product " + body["id_relationship"].asString() + " of member " +
                                   request.user_key};
        }
        const std::string& action = request.action;
        if (action == "DeviceCourseDataDetails") {
            return answer_of(course_details(*owner, *unit, body));
        }
        if (action == "CourseSyncIndexRestore") {
            return answer_of(sync_index_restore(*unit, body));
        }
        if (action == "DeviceFullDataDetails") {
            return answer_of(full_data_details(*owner, *unit, body));
        }
        if (action == "DeviceFullDataConfirm") {
            return answer_of(full_data_confirm(*unit, body));
        }
        if (action == "DeviceRestore") {
            return answer_of(restore(*unit));
        }
        if (action == "MemberLogUploadURL") {
            return answer_of(log_upload_url(*unit));
        }
        if (action == "ProductEphemerisLogList" || action == "ProductEphemerisLogCreate") {
            return answer_of(ephemeris(*unit, body, action == "ProductEphemerisLogCreate"));
        }
        throw refusal{404, "No action " + action};
    } catch (const refusal& refused) {
        return answer_of(error_answer(refused));
    } catch (const Json::Exception& failure) {
        // A member of the wrong type somewhere deeper than the checks above look.
        return answer_of(
            error_answer(refusal{400, std::string("Malformed request: ") + failure.what()}));
    }
}

Json::Value rest_actions::course_details(const member&, const product& unit,
                                         const Json::Value& body) {
    const std::string code = required_text(body, "id_course");
    const model_info& model = *find_model(unit.model);
    for (const sample_course& course : sample_courses(model)) {
        if (course.code != code) {
            continue;
        }
        Json::Value answer = success();
        answer["glfCourse"]["index"] = course.index;
        answer["glfCourse"]["glf"] = base64(course.glf);
        answer["id_course"] = course.id;
        answer["courseName"] = course.name;
        answer["bCustom"] = 0;
        if (model.family == course_family::hx62) {
            answer["totalCourses"] = members_.state(unit.id).course_count;
        }
        if (!course.gls.empty()) {
            answer["glsData"] = base64(course.gls);
        }
        if (!model.setup_type.empty()) {
            answer["setupType"] = model.setup_type;
        }
        return answer;
    }
    throw refusal{404, "No course " + code + " for " + model.name};
}

Json::Value rest_actions::sync_index_restore(const product& unit, const Json::Value& body) {
    required_text(body, "id_course");
    const std::int64_t count = required_integer(body, "courseCount");
    if (count <= 0 || count > 0xFFFF) {
        throw refusal{400, "courseCount out of range"};
    }
    members_.set_course_count(unit.id, static_cast<std::uint32_t>(count));
    return success();
}

Json::Value rest_actions::file_list(const model_info& model) const {
    Json::Value answer = success();
    answer["urls"] = Json::Value(Json::arrayValue);
    answer["files"] = Json::Value(Json::arrayValue);
    for (const update_file& file : files_.update_files(model)) {
        answer["urls"].append(base_url_ + file.path);
        answer["files"].append(file.unit_name);
    }
    answer["version"] = sample_version;
    if (!model.setup_type.empty()) {
        answer["setupType"] = model.setup_type;
    }
    return answer;
}

Json::Value rest_actions::full_data_details(const member& owner, const product& unit,
                                            const Json::Value& body) {
    const model_info& model = *find_model(unit.model);
    if (!is_volume(model.family)) {
        throw refusal{400, model.name + " units take no full update"};
    }
    const bool articles = required_integer(body, "updateArticles") == 1;
    if (body.isMember("userScores")) {
        const Json::Value scores = parse_json(required_text(body, "userScores"));
        const Json::Value& sent = scores["user_scores"]["user_score"];
        if (!sent.isNull() && !sent.isArray()) {
            throw refusal{400, "userScores must hold user_scores.user_score"};
        }
        members_.keep_rounds(owner.user_key, sent);
    }
    Json::Value answer = file_list(model);
    if (members_.state(unit.id).installed_version == sample_version) {
        answer["urls"] = Json::Value(Json::arrayValue);
        answer["files"] = Json::Value(Json::arrayValue);
    }
    if (model.scores) {
        answer["user_scores"]["user_score"] = members_.rounds(owner.user_key);
    }
    if (articles) {
        answer["articles"] = members_.articles(owner.user_key);
    }
    return answer;
}

Json::Value rest_actions::full_data_confirm(const product& unit, const Json::Value& body) {
    members_.set_installed_version(unit.id, static_cast<int>(required_integer(body, "version")));
    return success();
}

Json::Value rest_actions::restore(const product& unit) {
    const model_info& model = *find_model(unit.model);
    if (!is_volume(model.family)) {
        throw refusal{400, model.name + " units take no restore"};
    }
    return file_list(model);
}

Json::Value rest_actions::log_upload_url(const product& unit) {
    Json::Value answer = success();
    answer["logURL"] = base_url_ + "/uploads/" + std::to_string(unit.id) + "-" +
                       std::to_string(++uploads_) + ".log";
    return answer;
}

// The list offers the first file not yet confirmed; each confirmation, of the days the
// offer named, offers the next one.
Json::Value rest_actions::ephemeris(const product& unit, const Json::Value& body, bool confirming) {
    const std::string serial = required_text(body, "serialNumber");
    const product* owner = members_.find_serial(serial);
    if (owner == nullptr || owner->id != unit.id) {
        Json::Value details(Json::objectValue);
        details["serialNumber"] = serial;
        throw refusal{503, "Unknown serialNumber", details};
    }
    const auto& offered = files_.ephemeris();
    std::size_t confirmed = members_.state(unit.id).ephemeris_confirmed;
    if (confirming) {
        const std::int64_t days = required_integer(body, "days");
        static const std::regex date(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)");
        if (!std::regex_match(required_text(body, "date_confirmed"), date)) {
            throw refusal{400, "date_confirmed must be YYYY-MM-DD hh:mm:ss"};
        }
        if (confirmed >= offered.size() || days != offered[confirmed].days) {
            throw refusal{400, "No ephemeris file of " + std::to_string(days) + " days offered"};
        }
        members_.set_ephemeris_confirmed(unit.id, ++confirmed);
    } else if (required_integer(body, "lastRecord") != 1) {
        throw refusal{400, "lastRecord must be 1"};
    }
    Json::Value answer = success();
    if (confirmed < offered.size()) {
        answer["url"] = base_url_ + offered[confirmed].path;
        answer["days"] = offered[confirmed].days;
    }
    return answer;
}

}  // namespace orvel::devcloud
