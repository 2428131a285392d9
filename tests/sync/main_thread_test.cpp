#include "sync/main_thread.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "base/failures.h"
#include "sync/command_loop_harness.h"

namespace orvel::test {
namespace {

using strings = std::vector<std::string>;
constexpr auto connect = R"({"command":"connect"})";
constexpr auto update = R"({"command":"UpdateCourse","courseCode":"77"})";

// Blocks an update until the test lets it go or the loop interrupts it; an interrupted
// update fails with 1500 as real transfers do.
struct gate {
    event release;
    void operator()(event_base& interrupt) {
        for (;;) {
            if (release.wait(10u)) {
                return;
            }
            if (interrupt.wait(0u)) {
                // Still uses its connection for a while after the interrupt.
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                raise_sync_error(sync_error_code::interrupted);
            }
        }
    }
};

TEST(CommandLoop, CommandsBeforeConnectAreIgnoredAndConnectSendsTheVersion) {
    command_loop_harness loop;
    loop.search("Scripted");
    ASSERT_TRUE(loop.wait_message("status is null, command ignored"));
    loop.send(connect);
    EXPECT_EQ(loop.wait_statuses(1), strings{status0});
    loop.settle();
    EXPECT_EQ(loop.statuses(), strings{status0});  // no poll without a chosen unit
    EXPECT_EQ(loop.unit->connections_alive, 0);
}

TEST(CommandLoop, SearchDeviceFollowsThePresenceOfTheUnit) {
    command_loop_harness loop;
    loop.send(connect);
    loop.search("Scripted");
    EXPECT_EQ(loop.wait_statuses(2), (strings{status0, status1}));
    EXPECT_TRUE(loop.logger.contains("Server: 127.0.0.1:9"));
    EXPECT_TRUE(loop.logger.contains("Device: Scripted, Id: 0"));
    loop.unit->present = true;
    EXPECT_EQ(loop.wait_statuses(3).back(), status2);
    loop.unit->present = false;
    EXPECT_EQ(loop.wait_statuses(4).back(), status1);
    loop.settle();
    EXPECT_EQ(loop.statuses().size(), 4u);  // only changes are sent

    // A new search reports the current presence again at once.
    loop.unit->present = true;
    EXPECT_EQ(loop.wait_statuses(5).back(), status2);
    loop.search("Scripted");
    EXPECT_EQ(loop.wait_statuses(7),
              (strings{status0, status1, status2, status1, status2, status1, status2}));
}

TEST(CommandLoop, UnknownModelKeepsThePreviousUnit) {
    command_loop_harness loop;
    loop.send(connect);
    loop.search("Scripted");
    loop.wait_statuses(2);
    loop.search("scripted");
    EXPECT_EQ(loop.wait_statuses(3).back(), status5(900));
    EXPECT_TRUE(loop.logger.contains("main_thread extl_exception: 900"));
    EXPECT_EQ(loop.unit->connections_alive, 1);
    loop.unit->present = true;
    EXPECT_EQ(loop.wait_statuses(4).back(), status2);
}

TEST(CommandLoop, DeviceCommandsBeforeSearchFailWith1300AndTheLineIsLoggedOnce) {
    command_loop_harness loop;
    loop.send(connect);
    loop.send(update);
    loop.send(R"({"command":"EjectDevice"})");
    loop.send(R"({"command":"FullUpdate","device":"Scripted","server":"s","userKey":"k",)"
              R"("userSecret":"u","id_memberProduct":0})");
    EXPECT_EQ(loop.wait_statuses(4),
              (strings{status0, status5(1300), status5(1300), status5(1300)}));
    EXPECT_EQ(loop.logger.count("main_thread extl_exception: 1300"), 1u);
    EXPECT_EQ(loop.logger.count(""), 3u);  // the empty message, each time
}

TEST(CommandLoop, BadCommandTextsFailWith1200AndTheirMessage) {
    command_loop_harness loop;
    loop.send(connect);
    loop.send(R"({"command":"updatecourse"})");
    EXPECT_EQ(loop.wait_statuses(2).back(), status5(1200));
    EXPECT_TRUE(loop.logger.contains("parse: wrong command value: updatecourse"));
    loop.send("not json");
    EXPECT_EQ(loop.wait_statuses(3).back(), status5(1200));
    EXPECT_EQ(loop.logger.count("main_thread extl_exception: 1200"), 1u);
}

TEST(CommandLoop, UpdateRunsToStatus4WithTheStoredEjectNeed) {
    command_loop_harness loop;
    loop.unit->present = true;
    loop.send(connect);
    loop.search("Scripted");
    loop.wait_statuses(3);
    loop.send(update);
    EXPECT_EQ(loop.wait_statuses(5), (strings{status0, status1, status2, status3, status4(1)}));
    EXPECT_EQ(loop.unit->updates_started, 1);

    loop.unit->eject_needed = false;
    loop.unit->present = false;
    loop.wait_statuses(6);
    loop.unit->present = true;
    loop.wait_statuses(7);
    loop.send(R"({"command":"RestoreDevice"})");
    EXPECT_EQ(loop.wait_statuses(9).back(), status4(0));
}

TEST(CommandLoop, SecondUpdateWhileOneRunsIsIgnoredButStatus3IsSentAgain) {
    command_loop_harness loop;
    auto blocker = std::make_shared<gate>();
    loop.unit->on_update = [blocker](event_base& interrupt) { (*blocker)(interrupt); };
    loop.unit->present = true;
    loop.send(connect);
    loop.search("Scripted");
    loop.wait_statuses(3);
    loop.send(update);
    loop.wait_statuses(4);
    loop.send(update);
    ASSERT_TRUE(loop.wait_message("update is already running, command ignored 4"));
    EXPECT_EQ(loop.wait_statuses(5).back(), status3);
    blocker->release.set();
    EXPECT_EQ(loop.wait_statuses(6).back(), status4(1));
    loop.settle();
    EXPECT_EQ(loop.unit->updates_started, 1);
    EXPECT_EQ(loop.statuses().size(), 6u);
}

TEST(CommandLoop, UnplugDuringUpdateInterruptsItAndReportsItsFailureAfterItEnds) {
    command_loop_harness loop;
    auto blocker = std::make_shared<gate>();
    loop.unit->on_update = [blocker](event_base& interrupt) { (*blocker)(interrupt); };
    loop.unit->present = true;
    loop.send(connect);
    loop.search("Scripted");
    loop.wait_statuses(3);
    loop.send(update);
    loop.wait_statuses(4);
    loop.unit->present = false;
    EXPECT_EQ(loop.wait_statuses(6),
              (strings{status0, status1, status2, status3, status1, status5(1500)}));
    EXPECT_EQ(loop.unit->updates_running, 0);
}

TEST(CommandLoop, InterruptedUpdateThatEndsWellSendsNothingMore) {
    command_loop_harness loop;
    loop.unit->on_update = [](event_base& interrupt) {
        interrupt.wait(10000u);
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
    };
    loop.unit->present = true;
    loop.send(connect);
    loop.search("Scripted");
    loop.wait_statuses(3);
    loop.send(update);
    loop.wait_statuses(4);
    loop.unit->present = false;
    EXPECT_EQ(loop.wait_statuses(5).back(), status1);
    loop.settle();
    EXPECT_EQ(loop.statuses().size(), 5u);
    EXPECT_FALSE(loop.interrupt().is_set());  // cleared once the update ended
}

// Whether the status still says 3 or an eject or a bad command text has replaced it, a
// command that replaces the unit stops the update and outlives it without blocking the loop.
TEST(CommandLoop, CommandsThatReplaceTheUnitWaitForTheInterruptedUpdate) {
    const std::string search =
        R"({"command":"SearchDevice","device":"Scripted","server":"s","userKey":"k",)"
        R"("userSecret":"u","id_memberProduct":0})";
    struct row {
        std::string before;  // sent once the update runs, with the status it brings
        std::string before_status;
        std::string text;
        int interrupted_number;  // 0: no "update interrupted" line
        std::string reply;       // the status the command sends, if any
        int connections_after;
    };
    const std::vector<row> rows = {
        {"", "", search, 3, status1, 1},
        {"", "", connect, 1, status0, 0},
        {"", "", R"({"command":"disconnect"})", 2, "", 0},
        {R"({"command":"EjectDevice"})", status1, search, 0, status1, 1},
        {"not json", status5(1200), connect, 0, status0, 0},
    };
    for (const row& r : rows) {
        command_loop_harness loop;
        auto blocker = std::make_shared<gate>();
        loop.unit->on_update = [blocker](event_base& interrupt) { (*blocker)(interrupt); };
        loop.unit->present = true;
        loop.send(connect);
        loop.search("Scripted");
        loop.wait_statuses(3);
        loop.send(update);
        std::size_t sent = loop.wait_statuses(4).size();
        if (!r.before.empty()) {
            loop.send(r.before);
            ASSERT_EQ(loop.wait_statuses(++sent).back(), r.before_status) << r.before;
        }
        loop.send(r.text);
        if (!r.reply.empty()) {
            // The gate never opens by itself: only the interrupt lets the loop go on.
            const auto statuses = loop.wait_statuses(sent + 1, std::chrono::seconds(3));
            ASSERT_GT(statuses.size(), sent) << r.text;
            EXPECT_EQ(statuses[sent], r.reply) << r.text;
        }
        const std::string interrupted = "update interrupted with another command ";
        if (r.interrupted_number != 0) {
            ASSERT_TRUE(loop.wait_message(interrupted + std::to_string(r.interrupted_number)));
        }
        loop.settle();
        EXPECT_EQ(loop.logger.mentions(interrupted), r.interrupted_number != 0) << r.text;
        EXPECT_FALSE(loop.unit->destroyed_while_updating) << r.text;
        EXPECT_EQ(loop.unit->updates_running, 0) << r.text;
        EXPECT_EQ(loop.unit->connections_alive, r.connections_after) << r.text;
    }
}

TEST(CommandLoop, SearchDuringUpdateSendsStatus1ThenTheUpdateFailure) {
    command_loop_harness loop;
    auto blocker = std::make_shared<gate>();
    loop.unit->on_update = [blocker](event_base& interrupt) { (*blocker)(interrupt); };
    loop.send(connect);
    loop.search("Scripted");
    loop.wait_statuses(2);
    loop.send(update);
    loop.wait_statuses(3);
    loop.search("Scripted");
    EXPECT_EQ(loop.wait_statuses(5), (strings{status0, status1, status3, status1, status5(1500)}));
    EXPECT_TRUE(loop.logger.contains("update interrupted with another command 3"));
}

TEST(CommandLoop, DisconnectEndsTheClientStateSilently) {
    command_loop_harness loop;
    loop.unit->present = true;
    loop.send(connect);
    loop.search("Scripted");
    loop.wait_statuses(3);
    loop.send(R"({"command":"disconnect"})");
    loop.send(update);
    ASSERT_TRUE(loop.wait_message("status is null, command ignored"));
    EXPECT_EQ(loop.unit->connections_alive, 0);
    EXPECT_EQ(loop.statuses().size(), 3u);
    EXPECT_EQ(loop.unit->updates_started, 0);
}

TEST(CommandLoop, EjectRunsOnTheLoopAndReportsStatus1OrItsFailure) {
    command_loop_harness loop;
    loop.unit->present = true;
    loop.send(connect);
    loop.search("Scripted");
    loop.wait_statuses(3);
    loop.send(R"({"command":"EjectDevice"})");
    EXPECT_EQ(loop.wait_statuses(4).back(), status1);
    EXPECT_EQ(loop.unit->ejects, 1);
    loop.unit->on_eject = [] { raise_sync_error(sync_error_code::eject_failed); };
    loop.send(R"({"command":"EjectDevice"})");
    EXPECT_EQ(loop.wait_statuses(5).back(), status5(1700));
}

// Each kind of failure as the update thread hands it back: its code and its log lines.
TEST(CommandLoop, UpdateFailuresKeepTheirTypeAcrossTheThread) {
    struct row {
        std::function<void()> fail;
        int code;
        std::string first_line;
        std::string message_line;
    };
    const std::vector<row> rows = {
        {[] { throw http_exception("timed out"); }, 1600, "main_thread http_exception: timed out",
         ""},
        {[] { throw intl_exception("seek failed."); }, 100, "main_thread intl_exception",
         "seek failed."},
        {[] { raise_sync_error(sync_error_code::device_write_failed, "slot"); }, 600,
         "main_thread extl_exception: 600", "slot"},
        {[] { throw std::runtime_error("bad alloc"); }, 100, "main_thread exception: bad alloc",
         ""},
        {[] { throw 42; }, 100, "main_thread intl_exception",
         "unknown exception inside update_thread"},
        // A mismatch that a model failed to handle is no failure the loop knows.
        {[] { throw sync_index_exception(3); }, 100, "main_thread intl_exception",
         "unknown exception inside update_thread"},
    };
    for (const row& r : rows) {
        command_loop_harness loop;
        loop.unit->on_update = [fail = r.fail](event_base&) { fail(); };
        loop.send(connect);
        loop.search("Scripted");
        loop.wait_statuses(2);
        loop.send(update);
        EXPECT_EQ(loop.wait_statuses(4).back(), status5(r.code)) << r.first_line;
        EXPECT_TRUE(loop.logger.contains(r.first_line)) << r.first_line;
        if (!r.message_line.empty()) {
            EXPECT_TRUE(loop.logger.contains(r.message_line)) << r.message_line;
        }
        EXPECT_TRUE(loop.logger.mentions("OS: ")) << "a coded status repeats the system line";
    }
}

// The log goes up after every failure but a transport one, and only for a member.
TEST(CommandLoop, FailuresOtherThanHttpAskForTheLogUploadAddress) {
    const std::string upload_request = "Request: /rest/action/MemberLogUploadURL/";
    {
        command_loop_harness loop;
        loop.unit->on_update = [](event_base&) { throw http_exception("lost"); };
        loop.send(connect);
        loop.search("Scripted", 12);
        loop.wait_statuses(2);
        loop.send(update);
        loop.wait_statuses(4);
        loop.settle();
        EXPECT_FALSE(loop.logger.mentions(upload_request));
    }
    for (unsigned member : {0u, 2147483648u, 12u}) {
        command_loop_harness loop;
        loop.unit->on_update = [](event_base&) { throw intl_exception("broken"); };
        loop.send(connect);
        loop.search("Scripted", member);
        loop.wait_statuses(2);
        loop.send(update);
        EXPECT_EQ(loop.wait_statuses(4).back(), status5(100));
        loop.settle();
        EXPECT_EQ(loop.logger.mentions(upload_request), member == 12u) << member;
        // Nothing listens on the discard port: the upload fails and the loop goes on.
        loop.send(R"({"command":"EjectDevice"})");
        EXPECT_EQ(loop.wait_statuses(5).back(), status1) << member;
    }
}

// Commands were taken one per 100 ms pass, each with a poll. Now they are taken as they come,
// and the poll keeps its rhythm (100 ms with a page) however many arrive.
TEST(CommandLoop, CommandsDoNotWaitForThePresencePollNorHastenIt) {
    using clock = std::chrono::steady_clock;
    const std::string eject = R"({"command":"EjectDevice"})";
    command_loop_harness loop;
    loop.send(connect);
    loop.search("Scripted");
    loop.wait_statuses(2);
    const int before_burst = loop.unit->presence_checks;
    for (int i = 0; i < 50; ++i) {
        loop.send(eject);
    }
    ASSERT_EQ(loop.wait_statuses(52).size(), 52u);
    EXPECT_LT(loop.unit->presence_checks - before_burst, 25);

    const int before_stream = loop.unit->presence_checks;
    const auto start = clock::now();
    while (clock::now() - start < std::chrono::seconds(1)) {
        loop.send(eject);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const int polls = loop.unit->presence_checks - before_stream;
    const auto rhythm_steps = (clock::now() - start) / std::chrono::milliseconds(100);
    EXPECT_LE(polls, rhythm_steps + 1);
    EXPECT_GE(polls, rhythm_steps / 3);  // nor does a steady stream of commands put it off
}

TEST(CommandLoop, ShutdownWaitsForTheInterruptedUpdate) {
    auto script = std::make_shared<unit_script>();
    {
        command_loop_harness loop;
        loop.unit->on_update = [](event_base& interrupt) {
            interrupt.wait(60000u);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        };
        loop.send(connect);
        loop.search("Scripted");
        loop.wait_statuses(2);
        loop.send(update);
        loop.wait_statuses(3);
        script = loop.unit;
    }
    EXPECT_FALSE(script->destroyed_while_updating);
    EXPECT_EQ(script->updates_running, 0);
    EXPECT_EQ(script->connections_alive, 0);
}

}  // namespace
}  // namespace orvel::test
