// The HX62 course record in the service's answer.
#include <gtest/gtest.h>

#include "devices/serial/hx62_course.h"
#include "platform/memory_stream.h"
#include "support/capture_logger.h"

namespace orvel {
namespace {

const std::string base_fields =
    R"({"Status":1,"ErrorMessage":"","glfCourse":{"index":3,"glf":"AAEC"},"id_course":12,"courseName":"Links")";

// The record after parsing the answer, or the failure's code.
struct parsed {
    bool ok = false;
    HX62Course record;
};

parsed parse(const std::string& extra) {
    HX62SyncResponse response;
    memory_stream text;
    const std::string answer = base_fields + extra + "}";
    text.write(answer.data(), static_cast<std::uint32_t>(answer.size()));
    text.rewind();
    parsed result;
    try {
        response.parse(text);
        result.ok = true;
        result.record = response.record;
    } catch (const extl_exception& e) {
        EXPECT_EQ(e.code(), sync_error_code::bad_response);
    }
    return result;
}

TEST(Hx62Course, CarriesTheCourseCountAndAnOptionalStorageBlock) {
    const parsed plain = parse(R"(,"totalCourses":900)");
    ASSERT_TRUE(plain.ok);
    EXPECT_EQ(plain.record.totalCourses, 900);
    EXPECT_TRUE(plain.record.sector51.empty());
    EXPECT_EQ(plain.record.glf, (byte_vector{0, 1, 2}));

    const parsed block = parse(R"(,"totalCourses":true,"sector51":"R1NURw==")");
    ASSERT_TRUE(block.ok);
    EXPECT_EQ(block.record.totalCourses, 1);
    EXPECT_EQ(block.record.sector51, (byte_vector{'G', 'S', 'T', 'G'}));
}

TEST(Hx62Course, RefusesAMissingOddOrNonPositiveCount) {
    test::capture_logger logger;
    EXPECT_FALSE(parse("").ok);
    EXPECT_TRUE(logger.contains("totalCourses must be present\r\n"));
    EXPECT_FALSE(parse(R"(,"totalCourses":"9")").ok);
    EXPECT_FALSE(parse(R"(,"totalCourses":9.5)").ok);
    EXPECT_EQ(logger.count("totalCourses must be integral\r\n"), 2u);
    EXPECT_FALSE(parse(R"(,"totalCourses":0)").ok);
    EXPECT_FALSE(parse(R"(,"totalCourses":false)").ok);
    EXPECT_EQ(logger.count("totalCourses must be positive\r\n"), 2u);
    EXPECT_FALSE(parse(R"(,"totalCourses":5,"sector51":7)").ok);
    EXPECT_TRUE(logger.contains("Wrong sector51 type\r\n"));
}

}  // namespace
}  // namespace orvel
