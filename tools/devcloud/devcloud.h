// The development cloud: the service's REST actions for the sample members, the files
// they lead to, the log uploads, the console page and the simulated units it drives, on
// one HTTP server on 127.0.0.1.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "devcloud/member_state.h"
#include "devcloud/rest_actions.h"
#include "devcloud/sample_files.h"
#include "devcloud/sample_units.h"
#include "sim/test_http_server.h"

namespace orvel::devcloud {

struct devcloud_options {
    std::uint16_t port = 0;  // 0: one the system picks
    // Folder of the simulated units; empty: none.
    std::string units_folder;
    // Where log uploads are kept; empty: they are taken and dropped.
    std::string uploads_folder;
    // The console page's files.
    std::string console_folder;
    // Gets one line a request.
    std::function<void(const std::string&)> log;
};

class devcloud {
public:
    // Serving when constructed; throws when the port cannot be had.
    explicit devcloud(devcloud_options options);

    std::uint16_t port() const { return server_->port(); }
    // "http://127.0.0.1:<port>"
    std::string base_url() const { return server_->url(""); }
    // nullptr without a units folder.
    sample_units* units() { return units_.get(); }
    member_state& members() { return members_; }
    test::test_http_server& server() { return *server_; }

    // What the console lists: the cloud's host, the members with their products, the
    // models with their courses.
    Json::Value catalogue() const;

private:
    test::http_reply console_file(const std::string& path) const;
    test::http_reply units_request(const test::recorded_request& request);
    test::http_reply keep_upload(const test::recorded_request& request) const;
    void log_request(const test::recorded_request& request, const test::http_reply& reply) const;

    devcloud_options options_;
    sample_files files_;
    member_state members_;
    std::unique_ptr<sample_units> units_;
    std::unique_ptr<rest_actions> actions_;
    // Last, so that it stops before what its handlers use goes.
    std::unique_ptr<test::test_http_server> server_;
};

}  // namespace orvel::devcloud
