// Volumes that carry a unit's marker but are no unit, and volumes that fill up, end to end:
// links and special files on them are refused and never followed, a package that does not
// fit changes nothing, and the agent goes on serving.
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "e2e/usbdisk_agent.h"
#include "support/tar_archive.h"

namespace orvel::e2e {
namespace {

namespace fs = std::filesystem;
using test::little_endian;

const std::string envelope = R"("Status":1,"ErrorMessage":"")";

std::string index_header(unsigned courses) {
    return "HEAD" + little_endian(courses, 2) + little_endian(10, 2);
}

// One round of 18 holes, as the service returns it.
std::string scores_answer() {
    std::string holes;
    for (int hole = 0; hole < 18; ++hole) {
        holes += std::string(hole == 0 ? "" : ",") + R"({"score":4,"putts":2})";
    }
    return R"(,"user_scores":{"user_score":[{"round_date":"2021-05-06 07:08:09","round_id":5,)"
           R"("course_name":"C","slope_rating":1,"course_id":2,"teebox":1,"course_rating":70.5,)"
           R"("score":[)" +
           holes + "]}]}";
}

// Every regular file below the folder with its content; unlike test::files_below, without
// making paths canonical, which would leave the agent's mount namespace.
std::vector<std::pair<std::string, std::string>> files_in(const std::string& folder) {
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            const std::string path = entry.path().string();
            files.emplace_back(path.substr(folder.size()), test::read_file(path));
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

class HostileVolume : public UsbDiskAgent {
protected:
    // A full update whose answer lists the file ("" for none) and adds `extra` members.
    std::string full_update(const std::string& file, const std::string& extra = "") {
        const std::string list = file.empty() ? R"("files":[],"urls":[])"
                                              : R"("files":[")" + file + R"("],"urls":[")" +
                                                    cloud.url("/files/" + file) + R"("])";
        cloud.reply_rest(
            "DeviceFullDataDetails",
            test::http_reply::json("{" + envelope + "," + list + R"(,"version":3)" + extra + "}"));
        cloud.reply_rest("DeviceFullDataConfirm", test::http_reply::json("{" + envelope + "}"));
        return run("FullUpdate", R"(,"device":"any","server":")" + cloud.host() +
                                     R"(","userKey":"k","userSecret":"s","id_memberProduct":0)");
    }

    void serve(const std::string& file, const std::string& content) {
        cloud.reply("/files/" + file, test::http_reply::text(200, content));
    }

    bool refused(const std::string& path, const std::string& what, const std::string& wanted) {
        return agent->log_mentions("Refused " + path + ": " + what + " stands there, not " +
                                   wanted);
    }

    // The member's home, which links on the stick point into.
    test::temp_folder home{"member-home"};
};

TEST_F(HostileVolume, BrevantoSetupLinkedIntoTheHomeIsNeitherReadNorWrittenThrough) {
    test::write_file(volume / "Brevanto.exe", "");
    test::write_file(volume / "EMBEDD01.GLF", pattern(400, 1));
    test::write_file(home / ".bash_history", "the member's history");
    fs::create_symlink(home / ".bash_history", volume / "SETUP.KM3");
    // A score file that is also one of the member's (a "stick" that is a folder can hold
    // that): replaced on the unit, never written over.
    fs::create_directory(volume / "SP");
    test::write_file(home / "scores", std::string(151, 's'));
    fs::create_hard_link(home / "scores", volume / "SP/KVSP00.SP");
    start(volume.path());
    search("KM3");

    serve("SETUP.KM3", pattern(100, 2));
    EXPECT_EQ(full_update("SETUP.KM3"), coded(5, 600));
    EXPECT_TRUE(refused(volume / "SETUP.KM3", "a symbolic link", "a regular file"));
    EXPECT_TRUE(holds(home / ".bash_history", "the member's history"));
    EXPECT_TRUE(fs::is_symlink(volume / "SETUP.KM3"));
    EXPECT_EQ(cloud.count("/files/"), 0u);

    EXPECT_EQ(full_update("", scores_answer()), finished);
    EXPECT_TRUE(holds(home / "scores", std::string(151, 's')));
    EXPECT_EQ(test::read_file(volume / "SP/KVSP00.SP").substr(0, 4), "KVSP");
}

TEST_F(HostileVolume, NebroFolderLinksIntoTheHomeLeadNowhere) {
    test::write_file(home / "nebro.idx", index_header(40));
    test::write_file(home / ".profile", "the member's profile");
    const auto home_before = test::files_below(home.path());
    test::write_file(volume / "nebro.setup", "");
    fs::create_directory_symlink(home.path(), volume / "idx");
    start(volume.path());
    search("Nebro");

    EXPECT_EQ(update(9, course_answer(9, 1, "course")), coded(5, 200));
    EXPECT_TRUE(refused(volume / "idx", "a symbolic link", "a folder"));

    // The library in place, and a folder of the package linked into the home.
    fs::remove(volume / "idx");
    library("nebro.setup", "nebro.idx");
    fs::create_directory_symlink(home.path(), volume / "L");
    const auto unit_before = test::files_below(volume.path());
    test::tar_builder package;
    package.file("pkg/idx/nebro.idx", index_header(41)).file("pkg/L/.profile", "planted").end();
    serve("nebro.tar", package.bytes());
    EXPECT_EQ(full_update("nebro.tar"), coded(5, 600));
    EXPECT_TRUE(refused(volume / "L", "a symbolic link", "a folder"));
    EXPECT_EQ(test::files_below(home.path()), home_before);
    EXPECT_EQ(test::files_below(volume.path()), unit_before);
}

TEST_F(HostileVolume, AFifoForTheNebroIndexFailsTheUpdateAtOnceAndLaterCommandsAreAnswered) {
    test::write_file(volume / "nebro.setup", "");
    fs::create_directory(volume / "idx");
    ASSERT_EQ(::mkfifo((volume / "idx/nebro.idx").c_str(), 0600), 0);
    start(volume.path());
    search("Nebro");

    EXPECT_EQ(update(9, course_answer(9, 1, "course")), coded(5, 200));
    EXPECT_TRUE(refused(volume / "idx/nebro.idx", "a FIFO", "a regular file"));
    EXPECT_EQ(run("EjectDevice"), "{\"Status\":1}");
    search("Nebro");
}

// The volume is a small tmpfs that only the agent sees, mounted in a mount namespace of its
// own; the test reaches it through the agent's /proc root.
TEST_F(HostileVolume, APackageTooBigForTheUnitChangesNothingAndTheNextOneClearsLeftovers) {
    const std::string probe =
        "unshare -m sh -c 'mount -t tmpfs -o size=4k probe " + volume.path() + "' >/dev/null 2>&1";
    if (std::system(probe.c_str()) != 0) {
        GTEST_SKIP() << "a tmpfs cannot be mounted in a private mount namespace here "
                        "(unshare -m and mount need root)";
    }
    test::agent_options options;
    options.environment = {{"ORVELSYNC_VOLUMES", volume.path()}};
    options.launcher = {"unshare",
                        "-m",
                        "sh",
                        "-c",
                        "mount -t tmpfs -o size=256k orvel-unit \"$0\" && exec \"$1\"",
                        volume.path()};
    agent = std::make_unique<test::agent_process>(options);
    agent->start();
    ASSERT_NE(agent->wait_for_port(), 0) << agent->terminal_output();
    const std::string unit = "/proc/" + std::to_string(agent->pid()) + "/root" + volume.path();
    test::write_file(unit + "nebro.setup", "");
    fs::create_directories(unit + "idx");
    fs::create_directories(unit + "crs");
    test::write_file(unit + "idx/nebro.idx", index_header(40));
    test::write_file(unit + "crs/d00", pattern(100 * 1024, 1));
    ASSERT_TRUE(page.connect(agent->wait_for_port())) << page.failure();
    search("Nebro");
    const auto before = files_in(unit);

    // Its course data alone would take more than the unit has left.
    test::tar_builder big;
    big.file("pkg/crs/d00", pattern(160 * 1024, 2))
        .file("pkg/idx/nebro.idx", index_header(1))
        .end();
    serve("nebro.tar", big.bytes());
    EXPECT_EQ(full_update("nebro.tar"), coded(5, 600));
    EXPECT_TRUE(agent->log_mentions("Not enough space on the unit: "));
    EXPECT_EQ(files_in(unit), before);

    // A unit pulled mid-install kept a temporary name; the next install clears it. Each file
    // of this one fits beside the one it replaces, though not both new ones beside both old.
    test::write_file(unit + "crs/d00.orvelsync-new", pattern(20 * 1024, 3));
    test::tar_builder fitting;
    fitting.file("pkg/crs/d00", pattern(120 * 1024, 4))
        .file("pkg/crs/d01", pattern(40 * 1024, 5))
        .file("pkg/idx/nebro.idx", index_header(1))
        .end();
    serve("nebro.tar", fitting.bytes());
    EXPECT_EQ(full_update("nebro.tar"), finished);
    EXPECT_TRUE(holds(unit + "crs/d00", pattern(120 * 1024, 4)));
    EXPECT_TRUE(holds(unit + "crs/d01", pattern(40 * 1024, 5)));
    EXPECT_TRUE(holds(unit + "idx/nebro.idx", index_header(1)));
    EXPECT_FALSE(fs::exists(unit + "crs/d00.orvelsync-new"));
}

}  // namespace
}  // namespace orvel::e2e
