// The course records of the JT, Zel, Vemo and Tavlin units: what each takes from the
// service's answer and what it refuses, with the line it logs.
#include <gtest/gtest.h>
#include <json/value.h>

#include <string>
#include <vector>

#include "devices/serial/jt_course.h"
#include "devices/serial/tavlin_course.h"
#include "devices/serial/vemo_device.h"
#include "devices/serial/zel_course.h"
#include "sim/test_http_server.h"
#include "support/capture_logger.h"

namespace orvel {
namespace {

Json::Value answer(const std::string& glf, const std::string& name = "Course") {
    Json::Value root(Json::objectValue);
    root["glfCourse"]["index"] = 1;
    root["glfCourse"]["glf"] = test::reference_base64(glf);
    root["id_course"] = 77;
    root["courseName"] = name;
    return root;
}

// The record's parse of the course data; the last line it logged, "" when none.
template <typename Course>
std::string refusal(const std::string& glf) {
    test::capture_logger logger;
    Course record;
    EXPECT_FALSE(record.parse(answer(glf))) << glf;
    const std::vector<std::string> messages = logger.messages();
    return messages.empty() ? std::string() : messages.back();
}

TEST(JtCourse, TakesFixedSizeImagesWithTheirLeadingTextAndImageCount) {
    EXPECT_EQ(refusal<JTCourse>(std::string(4657, 'x')), "wrong glf size (4657)\r\n");

    std::string glf(4658, '\0');
    glf.replace(0, 11, "Pine Valley");
    glf[48] = 0x01;
    glf[49] = 0x02;
    JTCourse record;
    ASSERT_TRUE(record.parse(answer(glf, std::string(50, 'n'))));
    EXPECT_EQ(record.course_name, std::string(47, 'n'));
    EXPECT_EQ(record.leading_text(), "Pine Valley");
    EXPECT_EQ(record.image_count(), 0x0102u);

    // A text without its zero byte ends where the image count begins.
    glf.replace(0, 60, std::string(60, 't'));
    ASSERT_TRUE(record.parse(answer(glf)));
    EXPECT_EQ(record.leading_text(), std::string(48, 't'));
}

TEST(ZelCourse, TakesTheHoleCountAndEachListedHolesPoints) {
    ZelCourse record;
    ASSERT_TRUE(record.parse(
        answer(R"({"holeCount":18,"holes":[["1,2","3,4"],["5,6"]]})", "Twenty characters!!!")));
    EXPECT_EQ(record.course_name, "Twenty characte");
    EXPECT_EQ(record.hole_count, 18);
    EXPECT_EQ(record.holes[0], (std::vector<std::string>{"1,2", "3,4"}));
    EXPECT_EQ(record.holes[1], (std::vector<std::string>{"5,6"}));
    EXPECT_TRUE(record.holes[2].empty());

    EXPECT_EQ(refusal<ZelCourse>("{"), "glf parsing failed\r\n");
    EXPECT_EQ(refusal<ZelCourse>("[]"), "glf must contain an object\r\n");
    EXPECT_EQ(refusal<ZelCourse>(R"({"holeCount":9})"), "holeCount and holes must be present\r\n");
    EXPECT_EQ(refusal<ZelCourse>(R"({"holeCount":"9","holes":[["a"]]})"),
              "holeCount must be integral\r\n");
    EXPECT_EQ(refusal<ZelCourse>(R"({"holeCount":9,"holes":[]})"),
              "holes must be not empty array\r\n");
    EXPECT_EQ(refusal<ZelCourse>(R"({"holeCount":9,"holes":[["a"],[]]})"),
              "hole data must be not empty array\r\n");
    EXPECT_EQ(refusal<ZelCourse>(R"({"holeCount":9,"holes":[["a",1]]})"),
              "point data must be a string\r\n");
    EXPECT_EQ(refusal<ZelCourse>(R"({"holeCount":10,"holes":[["a"]]})"),
              "wrong hole count (10)\r\n");
}

TEST(VemoCourse, KeepsTheFirstSixteenCharactersOfTheName) {
    VemoCourse record;
    ASSERT_TRUE(record.parse(answer("any bytes", "Twenty characters!!!")));
    EXPECT_EQ(record.course_name, "Twenty character");
    EXPECT_EQ(record.glf, byte_vector({'a', 'n', 'y', ' ', 'b', 'y', 't', 'e', 's'}));
}

std::string tavlin_glf(int count, const std::string& last_tee = R"("t9")") {
    std::string holes;
    std::string tees;
    for (int i = 1; i <= count; ++i) {
        holes += (i > 1 ? "," : "") + std::string(R"(["p)") + std::to_string(i) + R"(a","p)" +
                 std::to_string(i) + R"(b"])";
        tees += (i > 1 ? "," : "") + (i == count ? last_tee : R"("t)" + std::to_string(i) + R"(")");
    }
    return R"({"holeCount":)" + std::to_string(count) + R"(,"holes":[)" + holes + R"(],"tees":[)" +
           tees + "]}";
}

TEST(TavlinCourse, TakesPointsAndTeesOfExactlyTheCountedHoles) {
    TavlinCourse record;
    ASSERT_TRUE(record.parse(answer(tavlin_glf(9), "Twenty characters!!!")));
    EXPECT_EQ(record.course_name, "Twenty characte");
    EXPECT_EQ(record.hole_count, 9);
    EXPECT_EQ(record.holes[8], (std::vector<std::string>{"p9a", "p9b"}));
    EXPECT_EQ(record.tees[0], "t1");
    EXPECT_EQ(record.tees[8], "t9");

    EXPECT_EQ(refusal<TavlinCourse>(R"({"holeCount":9,"holes":[["a"]]})"),
              "holeCount, holes, and tees must be present\r\n");
    EXPECT_EQ(refusal<TavlinCourse>(R"({"holeCount":9.5,"holes":[["a"]],"tees":["t"]})"),
              "holeCount must be integral\r\n");
    EXPECT_EQ(refusal<TavlinCourse>(R"({"holeCount":9,"holes":[["a"]],"tees":[]})"),
              "holes and tees must be not empty arrays\r\n");
    EXPECT_EQ(refusal<TavlinCourse>(R"({"holeCount":1,"holes":[["a"]],"tees":["t"]})"),
              "holeCount must be 9 or 18\r\n");
    EXPECT_EQ(refusal<TavlinCourse>(R"({"holeCount":9,"holes":[["a"]],"tees":["t"]})"),
              "holes and tees must have size equal to holeCount\r\n");
    const std::string empty_hole = tavlin_glf(9);
    EXPECT_EQ(refusal<TavlinCourse>(
                  std::string(empty_hole).replace(empty_hole.find(R"(["p3a","p3b"])"), 13, "[]")),
              "value must be not empty array\r\n");
    // A tee that is no text is refused without a line of its own.
    test::capture_logger logger;
    EXPECT_FALSE(record.parse(answer(tavlin_glf(9, "9"))));
    EXPECT_TRUE(logger.messages().empty());
}

}  // namespace
}  // namespace orvel
