// The console page in headless Chromium, driving the agent, the development cloud and the
// simulated units that scripts/run starts; and scripts/run stopping them all again.
#include <gtest/gtest.h>
#include <json/value.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "devcloud/model_catalogue.h"
#include "devcloud/sample_courses.h"
#include "devcloud/sample_files.h"
#include "devcloud/sample_layout.h"
#include "sim/test_http_server.h"
#include "support/agent_process.h"
#include "support/dev_session.h"
#include "support/headless_browser.h"
#include "support/port_holder.h"
#include "support/temp_folder.h"

namespace orvel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string js(const std::string& text) {
    return Json::Value(text).toStyledString();
}

devcloud::sample_course sample(const std::string& model, const std::string& code) {
    for (const devcloud::sample_course& course :
         devcloud::sample_courses(*devcloud::find_model(model))) {
        if (course.code == code) {
            return course;
        }
    }
    throw std::invalid_argument("no course " + code);
}

// A file of the model's unit as a full update leaves it.
std::string updated_file(const std::string& model, const std::string& name) {
    for (const auto& [path, content] : devcloud::volume_files(*devcloud::find_model(model), true)) {
        if (path == name) {
            return content;
        }
    }
    throw std::invalid_argument("no file " + name);
}

class Console : public ::testing::Test {
protected:
    void SetUp() override {
        console = session.wait_for_console();
        ASSERT_FALSE(console.empty()) << session.output();
        // Other agents may hold ports of 10001-10004 on a shared machine: the console that
        // scripts/run prints is pinned to this session's.
        port = session.wait_for_agent_port();
        ASSERT_NE(port, 0);
        ASSERT_EQ(console.substr(console.find('?')), "?port=" + std::to_string(port));
        browser = std::make_unique<test::headless_browser>(
            std::vector<std::string>{"--ignore-certificate-errors", "--window-size=1280,860"});
    }

    std::string open_console() { return browser->open_tab(console); }

    std::string status_text(const std::string& tab) {
        return browser->evaluate(tab, "document.getElementById('status').textContent").asString();
    }

    // Waits until #status shows the agent's status number.
    bool reaches(const std::string& tab, int status, std::chrono::milliseconds timeout = 20s) {
        return browser->wait_until(
            tab,
            "document.getElementById('status').dataset.status === '" + std::to_string(status) + "'",
            timeout);
    }

    void choose(const std::string& tab, const std::string& select, const std::string& value) {
        browser->evaluate(tab, "(() => { const s = document.getElementById(" + js(select) +
                                   "); s.value = " + js(value) +
                                   "; s.dispatchEvent(new Event('change')); })()");
    }

    void command(const std::string& tab, const std::string& name) {
        browser->evaluate(tab, "document.querySelector('[data-command=" + name + "]').click()");
    }

    // The unit list names the course once the unit holds it.
    bool lists(const std::string& tab, const std::string& text) {
        return browser->wait_until(
            tab, "document.getElementById('unit-list').textContent.includes(" + js(text) + ")", 5s);
    }

    void update_course(const std::string& tab, const std::string& model, const std::string& code) {
        choose(tab, "model", model);
        command(tab, "SearchDevice");
        ASSERT_TRUE(reaches(tab, 2)) << model << ": " << status_text(tab);
        choose(tab, "course", code);
        command(tab, "UpdateCourse");
        ASSERT_TRUE(reaches(tab, 4)) << model << ": " << status_text(tab);
    }

    test::dev_session session;
    std::string console;
    std::uint16_t port = 0;
    std::unique_ptr<test::headless_browser> browser;
};

TEST_F(Console, DrivesTheAgentAndTheSimulatedUnits) {
    const std::string tab = open_console();
    ASSERT_TRUE(reaches(tab, 0, 15s)) << status_text(tab);
    EXPECT_EQ(status_text(tab).rfind("Connected; no unit chosen (agent 2.5.8.0)", 0), 0u)
        << status_text(tab);
    const std::string units = session.units_folder();

    // A ZelPlus course in the fifth slot of the volume's course file.
    const devcloud::sample_course cedar = sample("ZelPlus", "1003");
    update_course(tab, "ZelPlus", cedar.code);
    EXPECT_EQ(status_text(tab), "Finished; eject the unit before unplugging it");
    const std::string file = test::read_file(units + "ZelPlus/EMBEDD01.GLF");
    EXPECT_TRUE(file.substr(4 * devcloud::glf_course_size, devcloud::glf_course_size) == cedar.glf);
    EXPECT_TRUE(lists(tab, "EMBEDD01.GLF slot 5: " + cedar.name));

    // A JTCPlus full update: the course file, the set-up file, the member's rounds and the
    // articles. JTCPlus shares ZelPlus's marker, so plugging it unplugs ZelPlus.
    browser->evaluate(tab, "document.querySelector('[data-unit=JTCPlus] button').click()");
    choose(tab, "model", "JTCPlus");
    command(tab, "SearchDevice");
    ASSERT_TRUE(reaches(tab, 2)) << status_text(tab);
    command(tab, "FullUpdate");
    ASSERT_TRUE(reaches(tab, 4)) << status_text(tab);
    const std::string volume = units + "JTCPlus/";
    EXPECT_TRUE(test::read_file(volume + "EMBEDD01.GLF") ==
                updated_file("JTCPlus", "EMBEDD01.GLF"));
    EXPECT_TRUE(test::read_file(volume + "SETUP.SMI") == updated_file("JTCPlus", "SETUP.SMI"));
    EXPECT_TRUE(fs::exists(volume + "SP/KVSP00.SP") && fs::exists(volume + "SP/KVSP01.SP"));
    EXPECT_TRUE(fs::exists(volume + "NAR/NEWS0.NAR") && fs::exists(volume + "NAR/TIPS0.NAR"));
    browser->evaluate(tab, "document.querySelector('[data-unit=ZelPlus] button').click()");

    // An HX62 course in the simulated unit's flash. One sector: the unit's protocol pauses
    // a second after every command, a course across two takes twice as long.
    const devcloud::sample_course juniper = sample("HXZelX", "3001");
    update_course(tab, "HXZelX", juniper.code);
    EXPECT_TRUE(lists(tab, "flash slot 1: " + juniper.name + " (HXZelX)"));
    EXPECT_TRUE(browser->evaluate(tab, "document.getElementById('log-lines').textContent")
                    .asString()
                    .find("Downloaded course name: ") != std::string::npos);

    const std::string shot = ORVEL_BINARY_DIR "/console.png";
    browser->screenshot(tab, shot);
    // Made again on purpose, the README's copy is replaced: ORVEL_UPDATE_SCREENSHOT=1.
    if (std::getenv("ORVEL_UPDATE_SCREENSHOT") != nullptr) {
        fs::copy_file(shot, ORVEL_SOURCE_DIR "/docs/console.png",
                      fs::copy_options::overwrite_existing);
    }

    // The log can be filtered, and paused without losing lines.
    const std::string visible =
        "[...document.querySelectorAll('#log-lines li')].filter((li) => !li.hidden)";
    browser->evaluate(tab,
                      "(() => { const f = document.getElementById('log-filter'); f.value = "
                      "'course name'; f.dispatchEvent(new Event('input')); })()");
    EXPECT_TRUE(browser
                    ->evaluate(tab, visible + ".length >= 3 && " + visible +
                                        ".every((li) => li.textContent.includes('course name'))")
                    .asBool());
    browser->evaluate(tab,
                      "(() => { const f = document.getElementById('log-filter'); f.value = "
                      "''; f.dispatchEvent(new Event('input')); })()");
    const std::string count = "document.querySelectorAll('#log-lines li').length";
    browser->evaluate(tab, "document.getElementById('log-pause').click()");
    const int shown = browser->evaluate(tab, count).asInt();
    command(tab, "SearchDevice");
    ASSERT_TRUE(browser->wait_until(tab, "document.getElementById('log-held').textContent !== ''"));
    EXPECT_EQ(browser->evaluate(tab, count).asInt(), shown);
    browser->evaluate(tab, "document.getElementById('log-pause').click()");
    EXPECT_GT(browser->evaluate(tab, count).asInt(), shown);
    ASSERT_TRUE(reaches(tab, 2)) << status_text(tab);

    // Unplugged from the console, the chosen unit is gone for the agent too.
    choose(tab, "model", "ZelPlus");
    command(tab, "SearchDevice");
    ASSERT_TRUE(reaches(tab, 2)) << status_text(tab);
    browser->evaluate(tab, "document.querySelector('[data-unit=ZelPlus] button').click()");
    ASSERT_TRUE(reaches(tab, 1, 5s)) << status_text(tab);
    EXPECT_EQ(status_text(tab), "Unit not attached");
    EXPECT_FALSE(fs::exists(units + "ZelPlus/SYSREG.SMI"));
    EXPECT_TRUE(browser->wait_until(
        tab, "document.querySelector('[data-unit=ZelPlus]').dataset.plugged === 'false'"));

    // The agent serves one page: a second tab is refused and says so; the first goes on.
    const std::string second = open_console();
    EXPECT_TRUE(browser->wait_until(
        second, "document.getElementById('status').textContent.startsWith('Refused')", 15s))
        << status_text(second);
    EXPECT_NE(status_text(second).find("another page is connected to the agent on port " +
                                       std::to_string(port)),
              std::string::npos);
    browser->evaluate(tab, "document.querySelector('[data-unit=ZelPlus] button').click()");
    EXPECT_TRUE(reaches(tab, 2, 5s)) << status_text(tab);

    // Where no agent answers, the console says what to check and where to accept the
    // certificate.
    const std::uint16_t closed = test::test_http_server().port();
    const std::string none =
        browser->open_tab(console.substr(0, console.find('?')) + "?port=" + std::to_string(closed));
    EXPECT_TRUE(browser->wait_until(
        none, "document.getElementById('status').textContent === 'Cannot reach the agent'", 15s))
        << status_text(none);
    EXPECT_EQ(browser->evaluate(none, "document.querySelector('#status-help a').href").asString(),
              "https://localhost:" + std::to_string(closed) + "/");
}

TEST_F(Console, OffersEveryModelAndUpdatesTarPackageAndSerialProtocolUnits) {
    const std::string tab = open_console();
    ASSERT_TRUE(reaches(tab, 0, 15s)) << status_text(tab);
    EXPECT_EQ(browser->evaluate(tab, "document.getElementById('model').options.length").asUInt(),
              model_rows().size());
    const std::string units = session.units_folder();

    // A Nebro full update unpacks the package's course library onto the volume.
    choose(tab, "model", "Nebro");
    command(tab, "SearchDevice");
    ASSERT_TRUE(reaches(tab, 2)) << status_text(tab);
    command(tab, "FullUpdate");
    ASSERT_TRUE(reaches(tab, 4)) << status_text(tab);
    for (const auto& [path, content] :
         devcloud::volume_files(*devcloud::find_model("Nebro"), true)) {
        EXPECT_TRUE(test::read_file(units + "Nebro/" + path) == content) << path;
    }
    EXPECT_TRUE(lists(tab, "crs/d00 slot 11: Ironwood Park"));

    // A Prang course update brings the ephemeris files the cloud holds for its serial number.
    const devcloud::sample_course harrow = sample("Prang", "2002");
    update_course(tab, "Prang", harrow.code);
    const std::string data = test::read_file(units + "Prang/crs/d00");
    EXPECT_TRUE(data.substr(devcloud::glf_course_size, devcloud::glf_course_size) == harrow.glf);
    for (const char* name : {"GPS1.ALP", "GPS2.ALP", "GPS3.ALP"}) {
        EXPECT_TRUE(fs::exists(units + "Prang/ALP/" + name)) << name;
    }

    // Every serial protocol's unit is attached; those of the Prolific bridge one at a time,
    // the first at start. (Their courses take the units' own pauses: half a minute each.)
    const std::string plugged = "document.querySelector('[data-unit=JT]').dataset.plugged";
    EXPECT_EQ(browser->evaluate(tab, plugged).asString(), "true");
    for (const std::string unit : {"Zel", "Vemo", "Tavlin"}) {
        browser->evaluate(tab, "document.querySelector('[data-unit=" + unit + "] button').click()");
        EXPECT_TRUE(browser->wait_until(
            tab, "document.querySelector('[data-unit=" + unit + "]').dataset.plugged === 'true'"));
        EXPECT_TRUE(fs::is_symlink(units + unit + ".port")) << unit;
        choose(tab, "model", unit);
        command(tab, "SearchDevice");
        EXPECT_TRUE(reaches(tab, 2, 5s)) << unit << ": " << status_text(tab);
    }
    EXPECT_EQ(browser->evaluate(tab, plugged).asString(), "false");
    EXPECT_FALSE(fs::exists(units + "Zel.port"));
}

struct held_port {
    std::string path;
    struct timespec created;
};

TEST(RunCommand, SigtermLeavesNoProcessAndNoSimulatedPortBehind) {
    test::dev_session session;
    ASSERT_FALSE(session.wait_for_console().empty()) << session.output();
    ASSERT_NE(session.wait_for_agent_port(), 0);
    const std::vector<int> started = session.descendants();
    EXPECT_GE(started.size(), 3u) << "the agent, the cloud and at least one simulated unit";
    EXPECT_GT(session.find_program("orvelsync-devcloud"), 0);
    for (const char* unit : {"hx62", "jt", "zel", "vemo", "tavlin"}) {
        EXPECT_GT(session.find_program(std::string("orvelsync-unit-") + unit), 0) << unit;
    }
    const std::string units = session.units_folder();
    std::vector<held_port> ports;
    for (const auto& entry : fs::directory_iterator(units)) {
        // Plugged or moved aside: the pseudo-terminal is open either way.
        if (entry.is_symlink()) {
            struct stat info {};
            const std::string pty = fs::read_symlink(entry.path()).string();
            ASSERT_EQ(::stat(pty.c_str(), &info), 0) << pty;
            ports.push_back({pty, info.st_ctim});
        }
    }
    EXPECT_EQ(ports.size(), 5u);

    ASSERT_EQ(session.stop(SIGTERM), 0) << session.output();
    for (const int pid : started) {
        EXPECT_FALSE(fs::exists("/proc/" + std::to_string(pid))) << test::process_command_line(pid);
    }
    const std::string folder = fs::path(units).parent_path().parent_path().string();
    EXPECT_FALSE(fs::exists(folder)) << "the session's folder";
    // Another program may have opened a new pseudo-terminal under the same number since.
    for (const held_port& port : ports) {
        struct stat info {};
        if (::stat(port.path.c_str(), &info) == 0) {
            EXPECT_FALSE(info.st_ctim.tv_sec == port.created.tv_sec &&
                         info.st_ctim.tv_nsec == port.created.tv_nsec)
                << port.path << " is still open";
        }
    }
}

TEST(RunCommand, ConsoleNamesItsOwnAgentWhileAnotherOfTheSameUserHoldsTheFirstPort) {
    test::agent_options options;
    options.default_page_ports = true;
    test::agent_process other(options);
    other.start();
    ASSERT_EQ(other.wait_for_port(), 10001);
    test::dev_session session;
    const std::string console = session.wait_for_console();
    ASSERT_NE(console.find('?'), std::string::npos) << session.output();
    EXPECT_EQ(console.substr(console.find('?')), "?port=10002");
}

TEST(RunCommand, AgentThatCannotStartStopsTheWholeSet) {
    // Every port the agent may take is held, as other programs on the machine might.
    test::port_holder taken({10001, 10002, 10003, 10004});
    test::dev_session session;
    EXPECT_EQ(session.wait_for_console(), "") << "no console for an agent that does not run";
    EXPECT_EQ(session.wait_exit(20s), 1) << session.output();
    EXPECT_NE(session.output().find("a program ended by itself; stopping the others"),
              std::string::npos)
        << session.output();
    EXPECT_NE(session.output().find("listen couldn't find free port"), std::string::npos)
        << "the agent's own words come along";
    EXPECT_TRUE(session.descendants().empty());
    EXPECT_TRUE(session.units_folder().empty()) << "the session's folder is gone";
}

}  // namespace
}  // namespace orvel
