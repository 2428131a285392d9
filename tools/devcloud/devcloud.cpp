#include "devcloud/devcloud.h"

#include <json/reader.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <memory>
#include <regex>
#include <sstream>

#include "devcloud/sample_courses.h"

namespace orvel::devcloud {

namespace {

namespace fs = std::filesystem;

// Development requests come from the same machine; a clock further off than this is a
// fault worth seeing.
constexpr std::chrono::minutes timestamp_window{15};

test::http_reply typed(std::string body, const std::string& type) {
    test::http_reply reply = test::http_reply::text(200, std::move(body));
    reply.headers = {{"Content-Type", type}, {"Cache-Control", "no-store"}};
    return reply;
}

std::string content_type(const std::string& name) {
    const std::string extension = fs::path(name).extension().string();
    if (extension == ".html") {
        return "text/html; charset=utf-8";
    }
    if (extension == ".css") {
        return "text/css; charset=utf-8";
    }
    if (extension == ".js") {
        return "text/javascript; charset=utf-8";
    }
    if (extension == ".png") {
        return "image/png";
    }
    return "application/octet-stream";
}

std::string size_text(std::size_t bytes) {
    if (bytes < 10 * 1024) {
        return std::to_string(bytes) + " B";
    }
    std::ostringstream text;
    text << std::fixed << std::setprecision(1) << static_cast<double>(bytes) / 1024 << " kB";
    return text.str();
}

std::string clock_text() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

// A handler that fails answers 500 with the failure's text instead of ending the server.
test::http_handler guarded(test::http_handler handler) {
    return [handler = std::move(handler)](const test::recorded_request& request) {
        try {
            return handler(request);
        } catch (const std::exception& failure) {
            return test::http_reply::text(500, failure.what());
        }
    };
}

}  // namespace

devcloud::devcloud(devcloud_options options) : options_(std::move(options)) {
    if (!options_.units_folder.empty()) {
        units_ = std::make_unique<sample_units>(options_.units_folder);
    }
    if (!options_.uploads_folder.empty()) {
        fs::create_directories(options_.uploads_folder);
    }
    server_ = std::make_unique<test::test_http_server>(options_.port);
    actions_ = std::make_unique<rest_actions>(members_, files_, server_->url(""));
    test::test_http_server& server = *server_;
    server.keep_records(false);
    server.set_timestamp_window(timestamp_window);
    for (const member& m : sample_members()) {
        server.add_user(m.user_key, m.user_secret);
    }
    for (const std::string& action : rest_actions::names()) {
        server.handle_rest(action, guarded([this](const test::recorded_request& request) {
                               return actions_->answer(request);
                           }));
    }
    server.handle_prefix("/files/", guarded([this](const test::recorded_request& request) {
                             const std::string* content = files_.find(request.path);
                             return content != nullptr
                                        ? typed(*content, "application/octet-stream")
                                        : test::http_reply::text(404, "no file " + request.path);
                         }));
    server.handle_prefix("/uploads/", guarded([this](const test::recorded_request& request) {
                             return keep_upload(request);
                         }));
    server.handle("/api/catalogue", guarded([this](const test::recorded_request&) {
                      return rest_actions::answer_of(catalogue());
                  }));
    server.handle_prefix("/api/units", guarded([this](const test::recorded_request& request) {
                             return units_request(request);
                         }));
    server.handle_prefix(
        "/", guarded([this](const test::recorded_request& request) {
            return console_file(request.path == "/" ? "/index.html" : request.path);
        }));
    server.observe([this](const test::recorded_request& request, const test::http_reply& reply) {
        log_request(request, reply);
    });
}

Json::Value devcloud::catalogue() const {
    Json::Value root(Json::objectValue);
    root["server"] = server_->host();
    root["members"] = Json::Value(Json::arrayValue);
    for (const member& m : sample_members()) {
        Json::Value entry(Json::objectValue);
        entry["name"] = m.name;
        entry["userKey"] = m.user_key;
        entry["userSecret"] = m.user_secret;
        for (const product& p : m.products) {
            Json::Value unit(Json::objectValue);
            unit["model"] = p.model;
            unit["id"] = p.id;
            unit["serialNumber"] = p.serial_number;
            entry["products"].append(unit);
        }
        root["members"].append(entry);
    }
    for (const model_info& model : models()) {
        Json::Value entry(Json::objectValue);
        entry["name"] = model.name;
        entry["family"] = family_name(model.family);
        entry["unit"] = model.unit;
        entry["volume"] = is_volume(model.family);
        entry["courses"] = Json::Value(Json::arrayValue);
        for (const sample_course& course : sample_courses(model)) {
            Json::Value c(Json::objectValue);
            c["code"] = course.code;
            c["name"] = course.name;
            c["index"] = course.index;
            entry["courses"].append(c);
        }
        root["models"].append(entry);
    }
    return root;
}

test::http_reply devcloud::console_file(const std::string& path) const {
    // Only plain names of the console's own folder.
    static const std::regex plain(R"(/[A-Za-z0-9_-]+\.(html|css|js|png))");
    if (!std::regex_match(path, plain)) {
        return test::http_reply::text(404, "no page " + path);
    }
    std::ifstream in(options_.console_folder + path, std::ios::binary);
    if (!in) {
        return test::http_reply::text(404, "no page " + path);
    }
    std::ostringstream content;
    content << in.rdbuf();
    return typed(content.str(), content_type(path));
}

// GET /api/units lists them; POST /api/units/<unit>/plug or /unplug changes one.
test::http_reply devcloud::units_request(const test::recorded_request& request) {
    if (!units_) {
        return rest_actions::answer_of(Json::Value(Json::arrayValue));
    }
    static const std::regex change(R"(/api/units/([A-Za-z0-9]+)/(plug|unplug))");
    std::smatch match;
    if (request.method == "POST" && std::regex_match(request.path, match, change)) {
        if (!units_->set_plugged(match[1], match[2] == "plug")) {
            return test::http_reply::text(404, "no unit " + match[1].str());
        }
    } else if (request.method != "GET" || request.path != "/api/units") {
        return test::http_reply::text(404, "no such request");
    }
    return rest_actions::answer_of(units_->describe());
}

test::http_reply devcloud::keep_upload(const test::recorded_request& request) const {
    static const std::regex name(R"(/uploads/([0-9]+-[0-9]+\.log))");
    std::smatch match;
    if (request.method != "PUT" || !std::regex_match(request.path, match, name)) {
        return test::http_reply::text(404, "uploads are PUT to the address the service gave");
    }
    if (!options_.uploads_folder.empty()) {
        std::ofstream out(options_.uploads_folder + "/" + match[1].str(),
                          std::ios::binary | std::ios::trunc);
        out << request.body;
    }
    return test::http_reply::text(200, "");
}

// "14:05:09 POST DeviceCourseDataDetails dev-ada #103 200 Status 1 (3.1 kB)"
void devcloud::log_request(const test::recorded_request& request,
                           const test::http_reply& reply) const {
    if (!options_.log) {
        return;
    }
    std::string line = clock_text() + " " + request.method + " ";
    if (request.verdict != test::signature_verdict::not_rest) {
        line += request.action.empty() ? request.path : request.action + " " + request.user_key;
        static const std::regex relationship(R"("id_relationship":(-?[0-9]+))");
        std::smatch match;
        if (std::regex_search(request.body, match, relationship)) {
            line += " #" + match[1].str();
        }
    } else {
        line += request.path;
        if (request.method == "PUT") {
            line += " (" + size_text(request.body.size()) + ")";
        }
    }
    line += " " + std::to_string(reply.status);
    if (reply.status == 401) {
        line += " " + request.refusal;
    } else if (!reply.body.empty() && reply.body.front() == '{') {
        Json::CharReaderBuilder builder;
        std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        Json::Value answer;
        if (reader->parse(reply.body.data(), reply.body.data() + reply.body.size(), &answer,
                          nullptr) &&
            answer["Status"].isInt()) {
            line += " Status " + std::to_string(answer["Status"].asInt());
            if (answer["Status"].asInt() != 1) {
                line += " " + answer["ErrorMessage"].asString();
            }
        }
    }
    line += " (" + size_text(reply.body.size()) + ")";
    options_.log(line);
}

}  // namespace orvel::devcloud
