// The built agent as pages come and go, and what it leaves on disk for other users to see.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <vector>

#include "support/agent_process.h"
#include "support/page_client.h"
#include "support/temp_folder.h"

namespace orvel {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using test::agent_process;
using test::page_client;

unsigned mode_of(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        return 0;
    }
    return info.st_mode & 07777;
}

// A page that sends a command out of turn, reads its failure, closes and is back at once,
// as a member who reloads after an error does.
TEST(PageLink, PageThatClosesAndComesBackAtOnceIsNeverRefused) {
    agent_process agent;
    agent.start();
    const std::uint16_t port = agent.wait_for_port();
    ASSERT_NE(port, 0);
    std::vector<std::unique_ptr<page_client>> pages;
    for (int round = 0; round < 10; ++round) {
        auto page = std::make_unique<page_client>();
        page->set_origin("http://localhost:8000");
        ASSERT_TRUE(page->connect(port)) << "round " << round << ": " << page->http_status();
        ASSERT_TRUE(page->wait_for_status(0)) << "round " << round;
        page->send(R"({"command":"UpdateCourse","courseCode":"1"})");
        ASSERT_TRUE(page->wait_for_message("{\"Status\":5, \"Code\":1300}")) << "round " << round;
        page->close(0ms);
        pages.push_back(std::move(page));
    }
    EXPECT_EQ(
        agent.log_count("Received message: {\"command\":\"UpdateCourse\",\"courseCode\":\"1\"}"),
        10u);
}

TEST(PageLink, LogIsOwnerOnlyAndALinkPlantedAtItsNameIsNotWrittenThrough) {
    test::temp_folder outside("outside");
    const std::string victim = outside / "victim.txt";
    test::write_file(victim, "not the agent's");
    agent_process agent;
    fs::create_symlink(victim, agent.log_path());
    agent.start();
    ASSERT_NE(agent.wait_for_port(), 0);
    EXPECT_EQ(agent.stop(), 0);
    EXPECT_EQ(test::read_file(victim), "not the agent's");
    EXPECT_FALSE(fs::is_symlink(agent.log_path()));
    EXPECT_EQ(mode_of(agent.log_path()), 0600u);
    EXPECT_TRUE(agent.log_mentions("app exited"));
}

TEST(PageLink, WithoutTmpdirTheLogGoesToAPrivateFolderOfTheRuntimeDir) {
    test::temp_folder runtime("runtime");
    test::agent_options options;
    options.environment = {{"TMPDIR", ""}, {"XDG_RUNTIME_DIR", runtime.path()}};
    {
        agent_process agent(options);
        agent.start();
        ASSERT_NE(agent.wait_for_port(), 0);
        EXPECT_EQ(agent.stop(), 0);
        EXPECT_EQ(agent.terminal_output(), "Orvel Sync is running; its log is " +
                                               (runtime / "orvelsync/OrvelSync2_Service.log\n"));
    }
    EXPECT_EQ(mode_of(runtime / "orvelsync"), 0700u);
    EXPECT_EQ(mode_of(runtime / "orvelsync/OrvelSync2_Service.log"), 0600u);

    // Something planted at the folder's name keeps the agent from starting, and it says why.
    fs::remove_all(runtime / "orvelsync");
    test::temp_folder elsewhere("elsewhere");
    fs::create_symlink(elsewhere.path(), runtime / "orvelsync");
    agent_process refused(options);
    refused.start();
    EXPECT_EQ(refused.wait_exit(), 255);
    EXPECT_EQ(refused.terminal_output(), "Orvel Sync cannot use its temporary folder: " +
                                             (runtime / "orvelsync is a symbolic link\n"));
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));
}

}  // namespace
}  // namespace orvel
