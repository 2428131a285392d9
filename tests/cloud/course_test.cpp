#include "cloud/course.h"

#include <gtest/gtest.h>
#include <json/value.h>

#include <exception>

#include "base/failures.h"
#include "cloud/course_response.h"
#include "platform/memory_stream.h"
#include "support/capture_logger.h"

namespace orvel {
namespace {

using course_answer = course_response<course>;

const std::string good_answer =
    R"({"Status":1,"ErrorMessage":"","glfCourse":{"index":3,"glf":"TWFuTQ=="},)"
    R"("id_course":42,"courseName":"Links","bCustom":1})";

void parse(course_answer& response, const std::string& text) {
    memory_stream stream;
    stream.write(text.data(), static_cast<std::uint32_t>(text.size()));
    response.parse(stream);
}

// The course failure's log line, and the 400 that follows it naming the whole answer.
std::string refusal(const std::string& text) {
    test::capture_logger logger;
    course_answer response;
    try {
        parse(response, text);
    } catch (const extl_exception& failure) {
        EXPECT_EQ(failure.code(), sync_error_code::bad_response);
        EXPECT_EQ(failure.message(), "Course parsing failed for input " + text);
        const auto messages = logger.messages();
        return messages.empty() ? std::string() : messages.back();
    }
    ADD_FAILURE() << "no failure for " << text;
    return std::string();
}

std::string with_members(const std::string& members) {
    return R"({"Status":1,"ErrorMessage":"")" + std::string(members.empty() ? "" : ",") + members +
           "}";
}

TEST(course, reads_the_shared_members_beside_the_envelope) {
    course_answer response;
    parse(response, good_answer);
    EXPECT_EQ(response.status, 1);
    EXPECT_EQ(response.record.index, 3);
    EXPECT_EQ(response.record.glf, (byte_vector{'M', 'a', 'n', 'M'}));
    EXPECT_EQ(response.record.id_course, 42u);
    EXPECT_EQ(response.record.course_name, "Links");
    EXPECT_TRUE(response.record.custom);
}

TEST(course, only_the_integer_1_marks_a_custom_course) {
    const auto custom_of = [](const std::string& flag) {
        course_answer response;
        parse(response, with_members(R"("glfCourse":{"index":0,"glf":""},"id_course":1,)"
                                     R"("courseName":"C")" +
                                     flag));
        return response.record.custom;
    };
    EXPECT_FALSE(custom_of(""));
    EXPECT_FALSE(custom_of(",\"bCustom\":0"));
    EXPECT_FALSE(custom_of(",\"bCustom\":2"));
    EXPECT_TRUE(custom_of(",\"bCustom\":1"));
    EXPECT_EQ(refusal(with_members(R"("glfCourse":{"index":0,"glf":""},"id_course":1,)"
                                   R"("courseName":"C","bCustom":true)")),
              "Wrong bCustom type");
}

TEST(course, missing_members_are_refused_in_order) {
    EXPECT_EQ(refusal(with_members("")), "glfCourse must be present");
    EXPECT_EQ(refusal(with_members(R"("glfCourse":{})")), "id_course must be present");
    EXPECT_EQ(refusal(with_members(R"("glfCourse":{},"id_course":1)")),
              "courseName must be present");
    EXPECT_EQ(refusal(with_members(R"("glfCourse":[1],"id_course":1,"courseName":"C")")),
              "index or glf must be present");
    EXPECT_EQ(refusal(with_members(R"("glfCourse":null,"id_course":1,"courseName":"C")")),
              "index or glf must be present");
    EXPECT_EQ(refusal(with_members(R"("glfCourse":{"index":1},"id_course":1,"courseName":"C")")),
              "index or glf must be present");
}

TEST(course, the_name_must_be_a_text_that_is_not_empty) {
    const std::string start = R"("glfCourse":{"index":0,"glf":""},"id_course":1,)";
    EXPECT_EQ(refusal(with_members(start + R"("courseName":5)")), "courseName must be a string");
    EXPECT_EQ(refusal(with_members(start + R"("courseName":"")")), "courseName can't be empty");
}

TEST(course, values_the_library_cannot_convert_fail_with_its_own_error) {
    course_answer response;
    EXPECT_THROW(parse(response, with_members(R"("glfCourse":{"index":"3","glf":""},)"
                                              R"("id_course":1,"courseName":"C")")),
                 std::exception);
    EXPECT_THROW(parse(response, with_members(R"("glfCourse":{"index":3,"glf":""},)"
                                              R"("id_course":-1,"courseName":"C")")),
                 std::exception);
}

TEST(course, the_envelope_is_checked_before_the_record) {
    course_answer response;
    try {
        parse(response, R"({"Status":214,"ErrorMessage":"","glfCourse":5})");
        FAIL() << "no failure";
    } catch (const extl_exception& failure) {
        EXPECT_EQ(failure.code(), sync_error_code::service_status_214);
    }
}

TEST(course, reset_empties_the_record_for_the_next_answer) {
    course_answer response;
    parse(response, good_answer);
    response.reset();
    EXPECT_TRUE(response.record.glf.empty());
    EXPECT_EQ(response.record.course_name, "");
    EXPECT_EQ(response.record.id_course, 0xFFFFFFFFu);
    EXPECT_EQ(response.record.index, -1);
    EXPECT_FALSE(response.record.custom);
    EXPECT_EQ(response.status, -1);

    // A later answer that fails early leaves nothing of the earlier record behind.
    parse(response, good_answer);
    EXPECT_THROW(parse(response, with_members(R"("id_course":7)")), extl_exception);
    EXPECT_TRUE(response.record.glf.empty());
    EXPECT_EQ(response.record.id_course, 0xFFFFFFFFu);
}

}  // namespace
}  // namespace orvel
