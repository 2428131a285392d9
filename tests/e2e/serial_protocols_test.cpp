// JT, Zel, Vemo and Tavlin units end to end: the built agent finds the simulated unit behind
// its Prolific bridge, fetches the course from the test cloud and writes it with the unit's
// protocol; refusals, silence, noise, a pulled unit, a closed page and a shutdown end the
// update as they should.
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "devices/serial/tavlin_message.h"
#include "e2e/serial_agent.h"
#include "sim/jt_unit.h"
#include "sim/tavlin_unit.h"
#include "sim/vemo_unit.h"
#include "sim/zel_unit.h"

namespace orvel {
namespace {

using namespace serial_e2e;
using steady = std::chrono::steady_clock;

std::string course_answer(unsigned id, const std::string& name, const std::string& glf) {
    return R"({"Status":1,"ErrorMessage":"","glfCourse":{"index":1,"glf":")" + glf +
           R"("},"id_course":)" + std::to_string(id) + R"(,"courseName":")" + name + R"("})";
}

template <typename Unit>
class UnitAgent : public SerialAgent {
protected:
    // The unit answers noise, then goes away after `messages` more messages, as a pulled
    // one does: each ends the update in a failure, never in success, and the agent serves on.
    void noise_then_pulled(unsigned id, const std::string& answer, const std::string& model,
                           std::size_t messages) {
        unit.line().babble(byte_vector(40, 0x5A));
        const std::string noisy = update(id, answer, 60s);
        EXPECT_EQ(test::status_of(noisy), 5) << noisy;
        unit.line().babble({});
        unit.line().hang_up_after(messages);
        send_update(id);
        // The pulled unit shows as gone (Status 1) on the way to the failure.
        EXPECT_TRUE(page->wait_for_status(5, 60s, mark));
        EXPECT_FALSE(page->wait_for_status(4, 0s, mark));
        send_search(model);
        EXPECT_TRUE(page->wait_for_status(1, 5s, mark));
    }

    Unit unit;
};

using JtAgent = UnitAgent<test::jt_unit>;
using ZelAgent = UnitAgent<test::zel_unit>;
using VemoAgent = UnitAgent<test::vemo_unit>;
using TavlinAgent = UnitAgent<test::tavlin_unit>;

byte_vector part(const byte_vector& bytes, std::size_t from, std::size_t to) {
    return byte_vector(bytes.begin() + from, bytes.begin() + to);
}

TEST_F(JtAgent, CoursePagesAndHoleImageReachTheUnitRefusalsNoiseAndPullingEndTheUpdate) {
    start(unit.port_entry());
    search("JT");
    byte_vector glf = pattern(6293, 3);
    const std::string text = "Pine Valley";
    std::copy(text.begin(), text.end(), glf.begin());
    glf[text.size()] = 0;
    glf[48] = 0;
    glf[49] = 1;
    const std::string answer = course_answer(31, "Pine Valley", base64(glf));
    EXPECT_EQ(update(31, answer, 60s), finished);
    EXPECT_EQ(unit.course(), part(glf, 0, 4658));
    EXPECT_EQ(unit.image_commands(), std::vector<std::string>{"$SENDIMAGE*Pine Valley,01"});
    EXPECT_EQ(unit.images(), std::vector<byte_vector>{part(glf, 4658, 6293)});
    EXPECT_TRUE(agent->log_mentions("Write course: Pine Valley"));

    test::jt_faults faults;
    faults.refused_page = 2;
    unit.set_faults(faults);
    EXPECT_EQ(update(31, answer), coded(5, 600));
    EXPECT_TRUE(agent->log_mentions("Matching response failed. Expected 06. Received: 15"));
    EXPECT_TRUE(agent->log_mentions("Failed to send page #2"));

    faults = test::jt_faults{};
    faults.full = true;
    unit.set_faults(faults);
    EXPECT_EQ(update(31, answer), coded(5, 1000));
    EXPECT_TRUE(agent->log_mentions("Matching response failed. Expected 06. Received: 22"));

    unit.set_faults({});
    noise_then_pulled(31, answer, "JT", 5);  // among the course pages
    EXPECT_LT(unit.course().size(), glf.size());
}

TEST_F(ZelAgent, CourseIsRewrittenInItsSlotAndAPageClosingStopsIt) {
    start(unit.port_entry());
    unit.set_slot(0, "Other A");
    unit.set_slot(2, "Other C");
    unit.set_slot(3, "Riverside Count");
    search("Zel");
    const std::string answer = course_answer(
        41, "Riverside Country Club",
        test::reference_base64(R"({"holeCount":18,"holes":[["1,2","3,4"],["5,6"]]})"));
    EXPECT_EQ(update(41, answer), finished);
    const std::vector<std::string> commands = unit.commands();
    EXPECT_EQ(unit.count("$CRNM"), 4u);
    EXPECT_EQ(unit.count("$ECRS"), 1u);
    EXPECT_NE(std::find(commands.begin(), commands.end(), "$ECRS,4"), commands.end());
    EXPECT_NE(std::find(commands.begin(), commands.end(), "$NCRS,Riverside Count,04,18"),
              commands.end());
    const test::zel_slot written = unit.slot(3);
    EXPECT_EQ(written.name, "Riverside Count");
    EXPECT_EQ(written.hole_count, 18u);
    ASSERT_EQ(written.holes.size(), 18u);
    EXPECT_EQ(written.holes[0], (std::vector<std::string>{"1,2", "3,4"}));
    EXPECT_EQ(written.holes[1], std::vector<std::string>{"5,6"});
    EXPECT_TRUE(written.holes[17].empty());
    EXPECT_TRUE(unit.slot(1).name.empty());
    EXPECT_EQ(commands.back(), "$EXIT");

    // The page goes while points are being sent: the update ends at the next exchange.
    cloud.reply_rest("DeviceCourseDataDetails", test::http_reply::json(answer));
    send_update(41);
    ASSERT_TRUE(page->wait_for_message("Hole 1, point 1: $PINT,01,1,2", 20s, mark));
    const steady::time_point closed = steady::now();
    page->close();
    EXPECT_TRUE(agent->wait_for_log(coded(5, 1500), 5s));
    EXPECT_LT(steady::now() - closed, 2s);
    EXPECT_EQ(unit.count("$WCRS"), 1u);
}

TEST_F(ZelAgent, FullNoisyOrPulledUnitsFailTheUpdate) {
    start(unit.port_entry());
    for (std::size_t index = 0; index < test::zel_unit::slot_count; ++index) {
        unit.set_slot(index, "Other " + std::to_string(index));
    }
    search("Zel");
    const std::string answer = course_answer(
        41, "Riverside Country Club",
        test::reference_base64(R"({"holeCount":18,"holes":[["1,2","3,4"],["5,6"]]})"));
    EXPECT_EQ(update(41, answer), coded(5, 1000));
    EXPECT_EQ(unit.count("$ECRS"), 0u);
    EXPECT_EQ(unit.slot(3).name, "Other 3");

    unit.set_slot(3, "Riverside Count");
    noise_then_pulled(41, answer, "Zel", 6);  // past the name search
}

TEST_F(VemoAgent, CourseGoesAsBlocksUnderItsUnderscoredNameRefusalsNoiseAndPullingEndIt) {
    start(unit.port_entry());
    search("Vemo");
    const byte_vector glf = pattern(7040, 5);
    const std::string answer = course_answer(51, "Twin Oaks Golf Links", base64(glf));
    EXPECT_EQ(update(51, answer, 60s), finished);
    EXPECT_EQ(unit.announced(), std::vector<std::string>{"Twin_Oaks_Golf_L"});
    EXPECT_EQ(unit.course(), glf);
    EXPECT_EQ(unit.blocks(), 55u);
    EXPECT_TRUE(unit.ended());

    test::vemo_faults faults;
    faults.full = true;
    unit.set_faults(faults);
    EXPECT_EQ(update(51, answer), coded(5, 1000));

    faults = test::vemo_faults{};
    faults.no_start = true;
    unit.set_faults(faults);
    EXPECT_EQ(update(51, answer), coded(5, 600));
    EXPECT_TRUE(agent->log_mentions("Start course failed"));
    EXPECT_EQ(unit.blocks(), 0u);
    EXPECT_EQ(unit.announced().size(), 2u);

    unit.set_faults(test::vemo_faults{});
    noise_then_pulled(51, answer, "Vemo", 8);  // among the blocks
    EXPECT_LT(unit.blocks(), 55u);
}

TEST_F(VemoAgent, AShutdownAmidTheBlocksEndsTheAgentWithinOneExchange) {
    start(unit.port_entry());
    search("Vemo");
    const std::string answer = course_answer(51, "Twin Oaks Golf Links", base64(pattern(7040, 5)));
    cloud.reply_rest("DeviceCourseDataDetails", test::http_reply::json(answer));
    send_update(51);
    ASSERT_TRUE(page->wait_for_mention("Cours name: ", 10s, mark));
    const steady::time_point stopped = steady::now();
    EXPECT_EQ(agent->stop(SIGTERM, 5s), 0);
    EXPECT_LT(steady::now() - stopped, 3s);
    EXPECT_FALSE(unit.ended());
    EXPECT_EQ(agent->log_messages().back(), "app exited");
}

std::string tavlin_course() {
    std::string holes;
    std::string tees;
    for (int hole = 1; hole <= 9; ++hole) {
        holes += (hole > 1 ? "," : "") + std::string(R"(["xxP)") + std::to_string(hole) + R"("])";
        tees += (hole > 1 ? "," : "") + std::string(R"("xxT)") + std::to_string(hole) + R"(")";
    }
    return R"({"holeCount":9,"holes":[)" + holes + R"(],"tees":[)" + tees + "]}";
}

TEST_F(TavlinAgent, CourseFoundInItsSlotIsWrittenThereARefusingOrSilentUnitEndsTheUpdate) {
    start(unit.port_entry());
    for (std::size_t slot = 1; slot <= 6; ++slot) {
        unit.set_slot(slot, "Other " + std::to_string(slot));
    }
    unit.set_slot(7, "Lakeside");
    search("Tavlin");
    const std::string answer =
        course_answer(61, "Lakeside", test::reference_base64(tavlin_course()));
    EXPECT_EQ(update(61, answer), finished);
    EXPECT_EQ(unit.texts(tavlin::new_course), std::vector<std::string>{"7,Lakeside,"});
    const test::tavlin_slot written = unit.slot(7);
    EXPECT_EQ(written.points, (std::vector<std::string>{"07P1", "07P2", "07P3", "07P4", "07P5",
                                                        "07P6", "07P7", "07P8", "07P9"}));
    ASSERT_EQ(written.tees.size(), 9u);
    EXPECT_EQ(written.tees[8], "07T9");
    EXPECT_EQ(unit.texts(tavlin::leave).size(), 1u);

    unit.set_faults({tavlin::course_name});
    EXPECT_EQ(update(61, answer), coded(5, 600));
    EXPECT_TRUE(agent->log_mentions("Incorrect response from device"));
    unit.set_faults({});

    // Silent from the third slot's question on: ten tries, then the update fails without
    // taking a slot it knows nothing of.
    const auto asked_slot_3 = [&] {
        const std::vector<std::string> asked = unit.texts(tavlin::course_name);
        return std::count(asked.begin(), asked.end(), "3,");
    };
    const auto before = asked_slot_3();
    unit.line().go_silent(3);
    EXPECT_EQ(update(61, answer), coded(5, 600));
    EXPECT_EQ(asked_slot_3() - before, 10);
    EXPECT_TRUE(agent->log_mentions("Getting course name failed (idx: 3)"));
    EXPECT_EQ(unit.texts(tavlin::new_course).size(), 1u);

    // Choosing the unit again lets the silent one go at once, without the goodbye it would
    // not hear.
    const steady::time_point chosen = steady::now();
    search("Tavlin");
    EXPECT_TRUE(agent->wait_for_log("Exiting connection skipped: the unit did not answer", 1s));
    EXPECT_LT(steady::now() - chosen, 2s);
    EXPECT_EQ(unit.texts(tavlin::leave).size(), 1u);
}

TEST_F(TavlinAgent, FullNoisyAndPulledUnitsEndTheUpdate) {
    start(unit.port_entry());
    // A unit whose forty slots hold other courses is full.
    for (std::size_t slot = 1; slot <= test::tavlin_unit::slot_count; ++slot) {
        unit.set_slot(slot, "Other " + std::to_string(slot));
    }
    search("Tavlin");
    const std::string answer =
        course_answer(61, "Lakeside", test::reference_base64(tavlin_course()));
    EXPECT_EQ(update(61, answer, 60s), coded(5, 1000));
    EXPECT_TRUE(unit.texts(tavlin::new_course).empty());

    unit.set_slot(7, "Lakeside");
    noise_then_pulled(61, answer, "Tavlin", 12);  // among the points
}

}  // namespace
}  // namespace orvel
