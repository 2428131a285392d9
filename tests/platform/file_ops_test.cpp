#include "platform/file_ops.h"
#include "platform/private_files.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <set>

#include "support/capture_logger.h"
#include "support/child_process.h"
#include "support/scoped_env.h"
#include "support/temp_folder.h"

namespace orvel {
namespace {

namespace fs = boost::filesystem;

bool is_dir(const std::string& path) {
    return fs::is_directory(path);
}

bool exists(const std::string& path) {
    boost::system::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

using test::scoped_env;

// A file that not even root may remove, while it lives; none where the file system or the
// rights do not allow it.
class immutable_file {
public:
    explicit immutable_file(const std::string& path) : path_(path) { done_ = set(true); }
    ~immutable_file() {
        if (done_) {
            set(false);
        }
    }
    bool done() const { return done_; }

private:
    bool set(bool on) {
        const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            return false;
        }
        int flags = 0;
        bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        ::close(fd);
        return ok;
    }

    std::string path_;
    bool done_ = false;
};

TEST(CreateDirs, MakesTheParentsOfAFileAndTheLastFolderOnlyWithATrailingSlash) {
    test::temp_folder folder("dirs");
    std::string file_path = folder / "a/b/c.bin";
    EXPECT_TRUE(platform::create_dirs(file_path));
    EXPECT_EQ(file_path, folder / "a/b/c.bin");
    EXPECT_TRUE(is_dir(folder / "a"));
    EXPECT_TRUE(is_dir(folder / "a/b"));
    EXPECT_FALSE(exists(folder / "a/b/c.bin"));

    std::string folder_path = folder / "x/y/z/";
    EXPECT_TRUE(platform::create_dirs(folder_path));
    EXPECT_TRUE(is_dir(folder / "x/y/z"));
    std::string again = folder / "x//y/z/";
    EXPECT_TRUE(platform::create_dirs(again)) << "existing folders pass";
}

TEST(CreateDirs, RefusesRelativePathsAndReportsTheFolderItCannotMake) {
    test::temp_folder folder("dirs");
    std::string empty;
    EXPECT_FALSE(platform::create_dirs(empty));
    const std::string relative_root = "orvel-relative-" + std::to_string(::getpid());
    std::string relative = relative_root + "/a/";
    EXPECT_FALSE(platform::create_dirs(relative));
    EXPECT_FALSE(exists(relative_root));

    test::write_file(folder / "plain", "a file, not a folder");
    test::capture_logger logger;
    std::string blocked = folder / "plain/sub/file.bin";
    EXPECT_FALSE(platform::create_dirs(blocked));
    EXPECT_TRUE(logger.contains("Failed to create dir (20): " + folder / "plain/sub"));
}

TEST(FreeSpace, AnsweredForAFolderAndAllOnesForAMissingOne) {
    test::temp_folder folder("space");
    const std::uint64_t free_bytes = platform::get_free_space(folder.path());
    EXPECT_NE(free_bytes, std::numeric_limits<std::uint64_t>::max());
    EXPECT_GT(free_bytes, 0u);

    test::capture_logger logger;
    EXPECT_EQ(platform::get_free_space(folder / "missing"),
              std::numeric_limits<std::uint64_t>::max());
    EXPECT_TRUE(logger.contains("get_free_space failed: 2. No such file or directory"));
}

TEST(TempDir, ComesFromTmpdirWhenItIsTheUsersAloneElseAPrivateFolderAndEndsWithASlash) {
    scoped_env runtime("XDG_RUNTIME_DIR", "/run/user/1000");
    test::temp_folder own("own");
    ::chmod(own.path().c_str(), 0755);
    {
        scoped_env env("TMPDIR", own.path());
        EXPECT_EQ(platform::temp_dir(), own.path());
        EXPECT_EQ(platform::temp_file_path("x.log"), own / "x.log");
    }
    const std::string subfolder = "orvelsync-" + std::to_string(::geteuid()) + "/";
    {
        scoped_env env("TMPDIR", own.path().substr(0, own.path().size() - 1));
        EXPECT_EQ(platform::temp_dir(), own.path());
        // Others could plant the log in a folder they may write to: a folder of the user's
        // own inside it, and inside one that is missing.
        ::chmod(own.path().c_str(), 01777);
        EXPECT_EQ(platform::temp_dir(), own / subfolder);
        ::chmod(own.path().c_str(), 0775);
        EXPECT_EQ(platform::temp_dir(), own / subfolder);
    }
    {
        scoped_env env("TMPDIR", "/var/missing");
        EXPECT_EQ(platform::temp_dir(), "/var/missing/" + subfolder);
    }
    // A shared /tmp is never the folder itself: other users could read the log there.
    scoped_env env("TMPDIR", "");
    EXPECT_EQ(platform::temp_dir(), "/run/user/1000/orvelsync/");
    scoped_env unset("TMPDIR", nullptr);
    EXPECT_EQ(platform::temp_dir(), "/run/user/1000/orvelsync/");
    scoped_env no_runtime("XDG_RUNTIME_DIR", nullptr);
    EXPECT_EQ(platform::temp_dir(), "/tmp/orvelsync-" + std::to_string(::geteuid()) + "/");
}

TEST(MemberConfigDir, XdgConfigHomeWhenAbsoluteElseTheHomesConfigFolder) {
    scoped_env home("HOME", "/home/member");
    {
        scoped_env config("XDG_CONFIG_HOME", "/srv/config/");
        EXPECT_EQ(platform::member_config_dir(), "/srv/config/orvelsync/");
    }
    // A relative one is to be ignored, as the base directory rules say.
    scoped_env config("XDG_CONFIG_HOME", "config");
    EXPECT_EQ(platform::member_config_dir(), "/home/member/.config/orvelsync/");
}

TEST(TempDir, PrivateFolderIsMadeOwnerOnlyAndAPlantedOneIsRefused) {
    test::temp_folder runtime_dir("runtime");
    scoped_env runtime("XDG_RUNTIME_DIR", runtime_dir.path().c_str());
    scoped_env env("TMPDIR", nullptr);
    const std::string folder = runtime_dir / "orvelsync";
    const auto mode = [&] {
        struct stat info {};
        ::lstat(folder.c_str(), &info);
        return info.st_mode & 07777;
    };
    std::string problem;
    ASSERT_TRUE(platform::prepare_temp_dir(problem)) << problem;
    EXPECT_EQ(mode(), 0700u);
    ::chmod(folder.c_str(), 0755);
    ASSERT_TRUE(platform::prepare_temp_dir(problem)) << problem;
    EXPECT_EQ(mode(), 0700u);

    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(folder.c_str(), 4242, 4242), 0);
        EXPECT_FALSE(platform::prepare_temp_dir(problem));
        EXPECT_EQ(problem, folder + " belongs to another user (4242)");
    }
    fs::remove(folder);
    test::temp_folder elsewhere("elsewhere");
    fs::create_symlink(elsewhere.path(), folder);
    EXPECT_FALSE(platform::prepare_temp_dir(problem));
    EXPECT_EQ(problem, folder + " is a symbolic link");
    fs::remove(folder);
    test::write_file(folder, "");
    EXPECT_FALSE(platform::prepare_temp_dir(problem));
    EXPECT_EQ(problem, folder + " is not a folder");
}

TEST(CopyFile, CopiesReplacingAndSkipsWhatIsNotAFile) {
    test::temp_folder folder("copy");
    const std::string source = folder / "source.log";
    const std::string target = folder / "target.log";
    EXPECT_TRUE(platform::copy_file(folder / "missing.log", target));
    EXPECT_FALSE(exists(target));
    EXPECT_TRUE(platform::copy_file(folder.path(), target));
    EXPECT_FALSE(exists(target));
    EXPECT_TRUE(platform::copy_file("", target));

    test::write_file(source, "new log");
    test::write_file(target, "an older and longer log");
    EXPECT_TRUE(platform::copy_file(source, target));
    EXPECT_EQ(test::read_file(target), "new log");

    // A link planted at the copy's name is replaced, not written through.
    const std::string victim = folder / "victim.txt";
    test::write_file(victim, "not yours");
    fs::remove(target);
    fs::create_symlink(victim, target);
    EXPECT_TRUE(platform::copy_file(source, target));
    EXPECT_EQ(test::read_file(victim), "not yours");
    EXPECT_FALSE(fs::is_symlink(target));
    EXPECT_EQ(test::read_file(target), "new log");

    test::capture_logger logger;
    const std::string nowhere = folder / "no/such/folder.log";
    EXPECT_FALSE(platform::copy_file(source, nowhere));
    EXPECT_TRUE(logger.contains("copy_file copy_file No such file or directory: " + source + " " +
                                nowhere));
}

TEST(RenameFile, MovesAFileAndSkipsWhatIsNotOne) {
    test::temp_folder folder("rename");
    const std::string source = folder / "service.log";
    const std::string target = folder / "copy_service.log";
    EXPECT_TRUE(platform::rename_file(source, target));
    EXPECT_FALSE(exists(target));

    test::write_file(source, "this run");
    test::write_file(target, "previous run");
    EXPECT_TRUE(platform::rename_file(source, source));
    EXPECT_TRUE(exists(source));
    EXPECT_TRUE(platform::rename_file(source, target));
    EXPECT_FALSE(exists(source));
    EXPECT_EQ(test::read_file(target), "this run");

    fs::create_directory(folder / "dir");
    EXPECT_TRUE(platform::rename_file(folder / "dir", folder / "moved"));
    EXPECT_TRUE(is_dir(folder / "dir"));

    test::capture_logger logger;
    const std::string nowhere = folder / "no/such.log";
    EXPECT_FALSE(platform::rename_file(target, nowhere));
    EXPECT_TRUE(
        logger.contains("rename_file rename No such file or directory: " + target + " " + nowhere));
}

TEST(Remove, DeletesFilesAndLinksButLeavesFoldersAndMissingPaths) {
    test::temp_folder folder("remove");
    EXPECT_TRUE(platform::remove(""));
    EXPECT_TRUE(platform::remove(folder / "missing"));
    fs::create_directory(folder / "dir");
    EXPECT_TRUE(platform::remove(folder / "dir"));
    EXPECT_TRUE(is_dir(folder / "dir"));

    test::write_file(folder / "dir/file", "x");
    fs::create_directory_symlink(folder / "dir", folder / "link");
    EXPECT_TRUE(platform::remove(folder / "link"));
    EXPECT_FALSE(exists(folder / "link"));
    EXPECT_TRUE(exists(folder / "dir/file")) << "only the link goes, not what it points to";
    EXPECT_TRUE(platform::remove(folder / "dir/file"));
    EXPECT_FALSE(exists(folder / "dir/file"));

    test::write_file(folder / "stuck", "x");
    immutable_file stuck(folder / "stuck");
    if (!stuck.done()) {
        GTEST_SKIP() << "this file system or user cannot make a file immutable";
    }
    test::capture_logger logger;
    EXPECT_FALSE(platform::remove(folder / "stuck"));
    EXPECT_TRUE(
        logger.contains("remove failed with message Operation not permitted (system 1) "
                        "for path " +
                        folder / "stuck."));
}

TEST(RemoveAll, RemovesTreesAndSkipsMissingPathsAndFiles) {
    test::temp_folder folder("remove_all");
    EXPECT_TRUE(platform::remove_all(""));
    EXPECT_TRUE(platform::remove_all(folder / "missing"));
    test::write_file(folder / "file", "x");
    EXPECT_TRUE(platform::remove_all(folder / "file"));
    EXPECT_TRUE(exists(folder / "file"));

    std::string tree = folder / "tree/a/b/";
    ASSERT_TRUE(platform::create_dirs(tree));
    test::write_file(folder / "tree/top.txt", "1");
    test::write_file(folder / "tree/a/b/deep.txt", "2");
    EXPECT_TRUE(platform::remove_all(folder / "tree"));
    EXPECT_FALSE(exists(folder / "tree"));
}

TEST(RemoveAll, NamesTheEntryThatStaysAndWhoHoldsIt) {
    test::temp_folder folder("remove_all");
    std::string sub = folder / "tree/sub/";
    ASSERT_TRUE(platform::create_dirs(sub));
    const std::string stuck_path = folder / "tree/sub/stuck.bin";
    test::write_file(stuck_path, "x");
    test::child_process holder({"sleep", "60"}, stuck_path);
    {
        immutable_file stuck(stuck_path);
        if (!stuck.done()) {
            GTEST_SKIP() << "this file system or user cannot make a file immutable";
        }
        test::capture_logger logger;
        EXPECT_FALSE(platform::remove_all(folder / "tree"));
        EXPECT_TRUE(
            logger.contains("remove_all failed with message Operation not permitted "
                            "(system 1) for path " +
                            folder / "tree. 0 items removed."));
        std::vector<std::string> failures;
        for (const std::string& message : logger.messages()) {
            if (message.rfind("remove failed with message ", 0) == 0) {
                failures.push_back(message);
            }
        }
        ASSERT_EQ(failures.size(), 1u);
        EXPECT_EQ(
            failures[0],
            "remove failed with message Operation not permitted (system 1) for path " + stuck_path)
            << "the walk must stop at the entry that stays, not at its folder";
        EXPECT_TRUE(logger.contains("Sharing violations for " + stuck_path));
        EXPECT_TRUE(logger.contains("Process " + test::resolved_path(test::program_path("sleep"))));
    }
    EXPECT_TRUE(platform::remove_all(folder / "tree"));
    EXPECT_FALSE(exists(folder / "tree"));
}

TEST(CopyFolderFiles, CopiesTheTopLevelFilesIntoACreatedFolder) {
    test::temp_folder folder("copy_folder");
    const std::string source = folder / "package/";
    std::string inner = source + "sub/";
    ASSERT_TRUE(platform::create_dirs(inner));
    test::write_file(source + "one.dat", "1");
    test::write_file(source + "two.dat", "2");
    test::write_file(source + "sub/inner.dat", "3");
    EXPECT_TRUE(platform::copy_folder_files("", folder / "x"));
    EXPECT_TRUE(platform::copy_folder_files(source, ""));

    const std::string target = folder / "unit/data/";
    std::string target_parent = folder / "unit/";
    ASSERT_TRUE(platform::create_dirs(target_parent));
    test::write_file(folder / "unit/keep.dat", "k");
    EXPECT_TRUE(platform::copy_folder_files(source, target));
    EXPECT_EQ(test::read_file(target + "one.dat"), "1");
    EXPECT_EQ(test::read_file(target + "two.dat"), "2");
    EXPECT_FALSE(exists(target + "sub")) << "files only";

    test::write_file(source + "one.dat", "1 again");
    EXPECT_TRUE(platform::copy_folder_files(source, folder / "unit/data"));
    EXPECT_EQ(test::read_file(target + "one.dat"), "1 again");

    test::capture_logger logger;
    EXPECT_FALSE(platform::copy_folder_files(folder / "absent/", target));
    EXPECT_TRUE(logger.contains("copy_folder_files FS_COPY 2 " + folder / "absent/* " +
                                folder / "unit/data"));
}

TEST(CopyFolder, MergesTheTreeUnderItsOwnNameReplacingFilesAndNeverWritingThroughLinks) {
    test::temp_folder folder("copy_tree");
    std::string deep = folder / "work/idx/sub/";
    ASSERT_TRUE(platform::create_dirs(deep));
    test::write_file(folder / "work/idx/nebro.idx", "new header");
    test::write_file(folder / "work/idx/sub/000", "entries");
    std::string unit = folder / "unit/idx/";
    ASSERT_TRUE(platform::create_dirs(unit));
    test::write_file(folder / "unit/idx/nebro.idx", "old header, longer than the new one");
    test::write_file(folder / "unit/idx/kept", "the unit's own");
    test::write_file(folder / "elsewhere", "not the unit's");
    std::string sub = folder / "unit/idx/sub/";
    ASSERT_TRUE(platform::create_dirs(sub));
    fs::create_symlink(folder / "elsewhere", folder / "unit/idx/sub/000");

    EXPECT_TRUE(platform::copy_folder(folder / "work/idx/", folder / "unit/"));
    EXPECT_EQ(test::read_file(folder / "unit/idx/nebro.idx"), "new header");
    EXPECT_EQ(test::read_file(folder / "unit/idx/kept"), "the unit's own");
    EXPECT_EQ(test::read_file(folder / "unit/idx/sub/000"), "entries");
    EXPECT_FALSE(fs::is_symlink(folder / "unit/idx/sub/000"));
    EXPECT_EQ(test::read_file(folder / "elsewhere"), "not the unit's");

    // A file where the tree needs a folder: the copy is reported as failed.
    fs::create_directory(folder / "work/name");
    test::write_file(folder / "work/name/abc", "names");
    test::write_file(folder / "blocked", "");
    test::capture_logger logger;
    EXPECT_FALSE(platform::copy_folder(folder / "work/name/", folder / "blocked"));
    EXPECT_TRUE(logger.mentions("copy_folder "));
    EXPECT_TRUE(platform::copy_folder("", folder / "unit/"));
    // The copy itself only ever makes a new file.
    EXPECT_EQ(platform::copy_into_new_file(folder / "work/name/abc", folder / "elsewhere"), EEXIST);
    EXPECT_EQ(test::read_file(folder / "elsewhere"), "not the unit's");
}

TEST(EnumSubdirs, CallsBackWithEverySubfolderAndNothingElse) {
    test::temp_folder folder("subdirs");
    fs::create_directory(folder / "alpha");
    fs::create_directory(folder / "beta");
    test::write_file(folder / "gamma.txt", "not a folder");
    std::set<std::string> seen;
    platform::enum_subdirs([&](const std::string& path) { seen.insert(path); }, folder.path());
    EXPECT_EQ(seen, (std::set<std::string>{folder / "alpha/", folder / "beta/"}));

    const std::string before = fs::current_path().string();
    test::capture_logger logger;
    seen.clear();
    platform::enum_subdirs([&](const std::string& path) { seen.insert(path); }, folder / "alpha/");
    EXPECT_TRUE(seen.empty());
    EXPECT_FALSE(logger.mentions("no subdirs"));
    platform::enum_subdirs([&](const std::string& path) { seen.insert(path); },
                           folder / "missing/");
    EXPECT_TRUE(seen.empty());
    EXPECT_TRUE(logger.contains("enum_subdirs: no subdirs were found in " + folder / "missing/"));
    EXPECT_EQ(fs::current_path().string(), before);

    EXPECT_THROW(platform::enum_subdirs({}, folder.path()), std::bad_function_call);
}

}  // namespace
}  // namespace orvel
