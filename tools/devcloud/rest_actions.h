// The answers of the development cloud to the agent's signed REST actions, from the
// sample catalogue and the members' state. Requests reach it with their signature already
// checked.
#pragma once

#include <json/value.h>

#include <atomic>
#include <string>
#include <vector>

#include "devcloud/member_state.h"
#include "devcloud/sample_files.h"
#include "sim/test_http_server.h"

namespace orvel::devcloud {

class rest_actions {
public:
    // base_url: "http://127.0.0.1:<port>", for the addresses the answers hand out.
    rest_actions(member_state& members, const sample_files& files, std::string base_url);

    // Every action the agent sends, by name without "/".
    static const std::vector<std::string>& names();
    // The service's envelope: an error status with its message, or Status 1.
    static test::http_reply answer_of(const Json::Value& answer);
    test::http_reply answer(const test::recorded_request& request);

private:
    Json::Value course_details(const member& owner, const product& unit, const Json::Value& body);
    Json::Value sync_index_restore(const product& unit, const Json::Value& body);
    Json::Value full_data_details(const member& owner, const product& unit,
                                  const Json::Value& body);
    Json::Value full_data_confirm(const product& unit, const Json::Value& body);
    Json::Value restore(const product& unit);
    Json::Value log_upload_url(const product& unit);
    Json::Value ephemeris(const product& unit, const Json::Value& body, bool confirming);
    Json::Value file_list(const model_info& model) const;

    member_state& members_;
    const sample_files& files_;
    std::string base_url_;
    std::atomic<unsigned> uploads_{0};
};

}  // namespace orvel::devcloud
