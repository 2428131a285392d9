// The course update exchange that every unit model inherits, against the HTTP test server,
// with a unit that writes what it is given.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include "base/failures.h"
#include "cloud/course.h"
#include "cloud/course_response.h"
#include "cloud/rest_request.h"
#include "devices/device_connection.h"
#include "sim/test_http_server.h"
#include "support/capture_logger.h"
#include "support/temp_folder.h"
#include "sync/command_loop_harness.h"

namespace orvel::test {
namespace {

using strings = std::vector<std::string>;

// What the unit does when it is opened and given a course; what it saw.
struct course_script {
    std::function<bool()> open = [] { return true; };
    std::function<bool()> write = [] { return true; };
    std::atomic<int> opens{0};
    std::atomic<int> closes{0};
    std::atomic<int> extensions{0};  // the model's own step after the exchange

    std::vector<course> written() const {
        std::lock_guard<std::mutex> lock(mutex);
        return courses;
    }

    mutable std::mutex mutex;
    std::vector<course> courses;
};

class course_unit : public device {
public:
    explicit course_unit(std::shared_ptr<course_script> script) : script_(std::move(script)) {}

    std::string identity() override { return "course unit"; }
    bool open(const std::string&) override { return true; }
    void close() override { ++script_->closes; }
    bool is_open() override { return true; }
    bool write_course() override {
        if (!script_->write()) {
            return false;
        }
        std::lock_guard<std::mutex> lock(script_->mutex);
        script_->courses.push_back(course_.record);
        return true;
    }
    sync_response& plain_response() override { return plain_; }
    sync_response& course_response() override { return course_; }

private:
    std::shared_ptr<course_script> script_;
    sync_response plain_;
    orvel::course_response<course> course_;
};

// Extends the base course update as a model may, by a step after it. Never present, so
// the command loop sends no presence changes.
class course_connection : public device_connection {
public:
    course_connection(std::shared_ptr<course_script> script, const connection_settings& settings,
                      event_base& interrupt_event)
        : device_connection(std::make_unique<course_unit>(script), settings, interrupt_event),
          script_(std::move(script)) {}

    bool open_device() override {
        ++script_->opens;
        return script_->open();
    }
    void update_course(const std::string& courseCode) override {
        device_connection::update_course(courseCode);
        ++script_->extensions;
    }
    std::string find_device() override { return ""; }
    std::string model_name() override { return "Course"; }

private:
    std::shared_ptr<course_script> script_;
};

const std::string course_answer =
    R"({"Status":1,"ErrorMessage":"","id_course":123,"courseName":"Old Links",)"
    R"("glfCourse":{"index":4,"glf":"AAECA/8="}})";
const std::string plain_answer = R"({"Status":1,"ErrorMessage":""})";

struct cloud {
    cloud() {
        server.add_user("uk", "us");
        settings = {server.host(), "uk", "us", "SN1", 77};
    }

    // The REST requests the server received, by action, in order.
    std::vector<recorded_request> rest(const std::string& action = "") const {
        std::vector<recorded_request> out;
        for (const recorded_request& request : server.requests()) {
            if (request.verdict != signature_verdict::not_rest &&
                (action.empty() || request.action == action)) {
                out.push_back(request);
            }
        }
        return out;
    }

    test_http_server server;
    connection_settings settings;
};

std::uint32_t failure_code(const std::function<void()>& run) {
    try {
        run();
    } catch (const extl_exception& e) {
        return code_value(e.code());
    }
    return 0;
}

TEST(CourseUpdate, DownloadsTheSignedCourseAnswerAndWritesIt) {
    cloud service;
    service.server.reply_rest("DeviceCourseDataDetails", http_reply::json(course_answer));
    auto script = std::make_shared<course_script>();
    empty_event never;
    course_connection unit(script, service.settings, never);
    capture_logger logger;

    unit.update_course("123");

    const auto requests = service.rest();
    ASSERT_EQ(requests.size(), 1u);
    const recorded_request& request = requests[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.action, "DeviceCourseDataDetails");
    EXPECT_EQ(request.verdict, signature_verdict::valid) << request.target;
    EXPECT_EQ(request.app_key, application_key);
    EXPECT_EQ(request.user_key, "uk");
    EXPECT_EQ(request.body, "{\"id_course\":\"123\",\"id_relationship\":77}\n");
    EXPECT_EQ(request.header("Content-Type"), "application/json");

    const auto written = script->written();
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0].course_name, "Old Links");
    EXPECT_EQ(written[0].id_course, 123u);
    EXPECT_EQ(written[0].index, 4);
    EXPECT_EQ(written[0].glf, (byte_vector{0, 1, 2, 3, 0xFF}));
    EXPECT_EQ(script->opens, 1);
    EXPECT_EQ(script->closes, 1);

    const strings messages = logger.messages();
    const auto at = [&](const std::string& message) {
        return std::find(messages.begin(), messages.end(), message) - messages.begin();
    };
    EXPECT_LT(at("Course: 123"), at("after courseUpdateRequest"));
    EXPECT_LT(at("after courseUpdateRequest"), at("after parse"));
    EXPECT_LT(at("after parse"), static_cast<long>(messages.size()));
}

// Each step turns its own failures into its code; an answer's failure keeps the answer's.
TEST(CourseUpdate, FailuresTakeTheCodeOfTheirStepAndLeaveTheUnitOpen) {
    struct row {
        std::string name;
        std::function<bool()> open;
        std::function<bool()> write;
        http_reply answer;
        std::uint32_t code;
        std::string logged;
        std::size_t requests;
    };
    const auto yes = [] { return true; };
    const std::vector<row> rows = {
        {"open false", [] { return false; }, yes, http_reply::json(course_answer), 200, "", 0},
        {"open throws", []() -> bool { throw intl_exception("port busy"); }, yes,
         http_reply::json(course_answer), 200, "port busy", 0},
        // Transport failures are tried again four times in all, then become 300.
        {"dropped", yes, yes, http_reply::dropped(), 300, "", 4},
        {"not 200", yes, yes, http_reply::text(503, "later"), 300, "failed with response: later",
         1},
        {"service error", yes, yes, http_reply::json(R"({"Status":218,"ErrorMessage":"closed"})"),
         500, "", 1},
        {"write false", yes, [] { return false; }, http_reply::json(course_answer), 600, "", 1},
        {"write throws", yes, []() -> bool { throw intl_exception("sector 3 failed."); },
         http_reply::json(course_answer), 600, "sector 3 failed.", 1},
    };
    for (const row& r : rows) {
        cloud service;
        service.server.reply_rest("DeviceCourseDataDetails", r.answer);
        auto script = std::make_shared<course_script>();
        script->open = r.open;
        script->write = r.write;
        empty_event never;
        course_connection unit(script, service.settings, never);
        capture_logger logger;

        EXPECT_EQ(failure_code([&] { unit.update_course("123"); }), r.code) << r.name;
        EXPECT_EQ(service.rest().size(), r.requests) << r.name;
        if (!r.logged.empty()) {
            EXPECT_TRUE(logger.mentions(r.logged)) << r.name;
        }
        EXPECT_TRUE(script->written().empty()) << r.name;
        EXPECT_EQ(script->closes, 0) << r.name;
    }
}

// The repair is counted for the whole process, so its first use and the later refusal
// belong in one test; the counter starts afresh here whatever ran before.
TEST(CourseUpdate, SyncIndexMismatchIsRepairedOnceInTheLifeOfTheProcess) {
    sync_index_repairs() = 0;
    cloud service;
    service.server.reply_rest("DeviceCourseDataDetails", http_reply::json(course_answer));
    service.server.reply_rest("CourseSyncIndexRestore", http_reply::json(plain_answer));
    empty_event never;
    {
        auto script = std::make_shared<course_script>();
        auto writes = std::make_shared<int>(0);
        script->write = [writes] {
            if ((*writes)++ == 0) {
                throw sync_index_exception(5);
            }
            return true;
        };
        course_connection unit(script, service.settings, never);
        unit.update_course("123");

        const auto requests = service.rest();
        ASSERT_EQ(requests.size(), 3u);
        EXPECT_EQ(requests[0].action, "DeviceCourseDataDetails");
        EXPECT_EQ(requests[1].action, "CourseSyncIndexRestore");
        EXPECT_EQ(requests[1].verdict, signature_verdict::valid);
        EXPECT_EQ(requests[1].body,
                  "{\"courseCount\":5,\"id_course\":\"123\",\"id_relationship\":77}\n");
        EXPECT_EQ(requests[2].action, "DeviceCourseDataDetails");
        EXPECT_EQ(requests[2].body, requests[0].body);
        EXPECT_EQ(script->written().size(), 1u);
        EXPECT_EQ(script->opens, 2);
        EXPECT_EQ(script->closes, 1);  // the repeat closes; the failed first try does not
        EXPECT_EQ(script->extensions, 1);
    }

    // A later update of another course on a new connection: no second repair.
    service.server.clear_requests();
    auto script = std::make_shared<course_script>();
    script->write = []() -> bool { throw sync_index_exception(6); };
    course_connection unit(script, service.settings, never);
    EXPECT_EQ(failure_code([&] { unit.update_course("456"); }), 1101u);
    EXPECT_EQ(service.rest("CourseSyncIndexRestore").size(), 0u);
    ASSERT_EQ(service.rest().size(), 1u);
    EXPECT_EQ(service.rest()[0].body, "{\"id_course\":\"456\",\"id_relationship\":77}\n");
}

// Through the command loop: a transport failure of the course request is the request's
// failure (300), not a transport status (1600), so the log goes up; a failed log upload
// is only logged.
TEST(CourseUpdate, FailedCourseRequestReachesThePageAs300AndSendsTheLog) {
    cloud service;
    temp_folder folder;
    const std::string log_path = folder / "OrvelSync2_Service.log";
    write_file(log_path, "line one\n");
    service.server.reply_rest("DeviceCourseDataDetails", http_reply::dropped());
    service.server.reply_rest("MemberLogUploadURL",
                              http_reply::json(R"({"Status":1,"ErrorMessage":"","logURL":")" +
                                               service.server.url("/logs/77") + "\"}"));
    service.server.accept_put("/logs/77");

    auto script = std::make_shared<course_script>();
    command_loop_harness loop(
        [script](const std::string&, const connection_settings& settings, event_base& interrupt) {
            return std::make_unique<course_connection>(script, settings, interrupt);
        },
        log_path);
    loop.send(R"({"command":"connect"})");
    loop.search("Course", 77, service.server.host());
    loop.send(R"({"command":"UpdateCourse","courseCode":"123"})");
    EXPECT_EQ(loop.wait_statuses(4), (strings{status0, status1, status3, status5(300)}));
    EXPECT_TRUE(loop.logger.contains("main_thread extl_exception: 300"));
    EXPECT_FALSE(loop.logger.mentions("main_thread http_exception"));

    for (int i = 0; i < 500 && !service.server.put_body("/logs/77"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(service.server.put_body("/logs/77"), std::optional<std::string>("line one\n"));
    ASSERT_EQ(service.rest("MemberLogUploadURL").size(), 1u);
    EXPECT_EQ(service.rest("MemberLogUploadURL")[0].verdict, signature_verdict::valid);

    service.server.reply("/logs/77", http_reply::text(507, "full"));
    loop.send(R"({"command":"UpdateCourse","courseCode":"123"})");
    EXPECT_EQ(loop.wait_statuses(6).back(), status5(300));
    for (int i = 0; i < 500 && !loop.logger.mentions("upload_log failed: "); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(loop.logger.mentions("upload_log failed: "));
    EXPECT_TRUE(loop.logger.mentions("failed with response: full"));
    loop.send(R"({"command":"EjectDevice"})");
    EXPECT_EQ(loop.wait_statuses(7).back(), status1);
}

}  // namespace
}  // namespace orvel::test
