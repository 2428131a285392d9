#include "devices/usbdisk/tar_reader.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/failures.h"
#include "platform/file_stream.h"
#include "platform/memory_stream.h"
#include "support/byte_pattern.h"
#include "support/capture_logger.h"
#include "support/scoped_env.h"
#include "support/tar_archive.h"
#include "support/temp_folder.h"

namespace orvel {
namespace {

using test::pattern;

namespace fs = std::filesystem;
using files = std::vector<std::pair<std::string, std::string>>;

bool ends_with(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// An event that is set from the start.
class set_event : public event_base {
public:
    bool wait() override { return true; }
    bool wait(std::uint32_t) override { return true; }
};

class TarUnpack : public ::testing::Test {
protected:
    // What the unpack left on the unit, or the failure's text.
    std::string unpack(const std::string& archive, event_base& interrupt) {
        test::write_file(scratch / "package.tar", archive);
        file_stream stream(scratch / "package.tar", 0);
        try {
            tar::unpack(stream, unit, interrupt);
            return "";
        } catch (const intl_exception& e) {
            return e.message();
        }
    }
    std::string unpack(const std::string& archive) { return unpack(archive, never); }

    bool work_folder_left() const { return fs::exists(temp / "untar.temp"); }

    // Holds the unit's folder and nothing else, so that a write beside the unit shows.
    test::temp_folder outer{"tar-outer"};
    test::temp_folder scratch{"tar-scratch"};
    test::temp_folder temp{"tar-temp"};
    // The work folder goes below TMPDIR.
    test::scoped_env tmpdir{"TMPDIR", temp.path()};
    const std::string unit = outer / "unit/";
    empty_event never;
    test::capture_logger logger;

    void SetUp() override { fs::create_directory(unit); }
};

// The makers and formats the service's packages may come in.
class TarMakers : public TarUnpack,
                  public ::testing::WithParamInterface<std::pair<const char*, const char*>> {};

TEST_P(TarMakers, EveryFileOfTheArchiveLandsUnderTheUnitWithoutThePackageFolder) {
    const auto [maker, format] = GetParam();
    test::temp_folder source("tar-source");
    const std::string long_folder = std::string(70, 'd') + "/" + std::string(70, 'e') + "/";
    const files wanted{
        {"idx/000", pattern(700, 1)},
        {"idx/nebro.idx", pattern(8, 2)},
        {"name/abc", pattern(512, 3)},
        {"empty.bin", ""},
        {"big/course.dat", pattern(300 * 1024 + 5, 4)},
        {long_folder + "long-named-file-" + std::string(20, 'f') + ".bin", pattern(33, 5)},
        {"caf\xC3\xA9.txt", "accent"},
    };
    for (const auto& [name, content] : wanted) {
        fs::create_directories(fs::path(source / "pkg/" + name).parent_path());
        test::write_file(source / "pkg/" + name, content);
    }
    test::write_file(unit + "nebro.setup", "marker");
    const std::string archive = scratch / "made.tar";
    ASSERT_TRUE(test::make_archive(maker, format, source.path(), archive));

    EXPECT_EQ(unpack(test::read_file(archive)), "");
    files expected = wanted;
    expected.emplace_back("nebro.setup", "marker");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(test::files_below(unit), expected);
    EXPECT_FALSE(work_folder_left());
}

INSTANTIATE_TEST_SUITE_P(
    Formats, TarMakers,
    ::testing::Values(std::make_pair("gnu-tar", "gnu"), std::make_pair("gnu-tar", "ustar"),
                      std::make_pair("gnu-tar", "pax"), std::make_pair("python", "gnu"),
                      std::make_pair("python", "ustar"), std::make_pair("python", "pax")),
    [](const auto& info) {
        return std::string(info.param.first == std::string("python") ? "python_" : "gnu_tar_") +
               info.param.second;
    });

TEST_F(TarUnpack, HandBuiltEntriesOfEveryKindTheReaderMeets) {
    const std::string name_120 = "pkg/" + std::string(100, 'n') + "/" + std::string(15, 'm');
    const std::string name_700 = "pkg/" + std::string(200, 'a') + "/" + std::string(200, 'b') +
                                 "/" + std::string(200, 'c') + "/" + std::string(92, 'd');
    const std::string pax_name = "pkg/" + std::string(150, 'p') + "/paxfile";
    test::tar_builder archive;
    archive.file("pkg/idx/nebro.idx", "header")
        .file("pkg/name/abc", "names")
        .header("pkg/idx/", 0, '5')
        .file("pkg/seven", pattern(700, 6))  // 324 bytes of padding follow it
        .file("pkg/after", "after seven")
        .long_name(name_120)
        .file("pkg/cut-to-100-bytes", "long")
        .long_name(name_700)  // its name takes two data blocks
        .file("pkg/cut", "longer")
        .pax('g', {{"comment", std::string(600, 'g')}})
        .pax('x', {{"comment", std::string(600, 'x')}, {"path", pax_name}})
        .file("pkg/wrong-name", "pax")
        .header("file.bin", 5, '0', "pkg/prefixed")
        .raw(pattern(5, 7) + std::string(507, '\0'))
        .file("pkg/twice", pattern(2000, 8))
        .file("pkg/twice", "the later one")
        .file("pkg/contiguous", "type 7", '7')
        .end();
    ASSERT_EQ(unpack(archive.bytes()), "");

    files expected{{"idx/nebro.idx", "header"},  {"name/abc", "names"},
                   {"seven", pattern(700, 6)},   {"after", "after seven"},
                   {name_120.substr(4), "long"}, {name_700.substr(4), "longer"},
                   {pax_name.substr(4), "pax"},  {"prefixed/file.bin", pattern(5, 7)},
                   {"twice", "the later one"},   {"contiguous", "type 7"}};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(test::files_below(unit), expected);
}

TEST_F(TarUnpack, AZeroBlockEndsTheArchiveAndAMissingOneFailsWithTheReadText) {
    test::tar_builder early;
    early.file("pkg/first", "1").raw(std::string(512, '\0')).file("pkg/ignored", "2");
    ASSERT_EQ(unpack(early.bytes()), "");
    EXPECT_EQ(test::files_below(unit), (files{{"first", "1"}}));

    test::tar_builder unended;
    unended.file("pkg/second", "2");
    const std::string failure = unpack(unended.bytes());
    EXPECT_EQ(failure,
              "read failed: EOF (" + scratch / "package.tar" + "). Unpacking tar file failed.");
    EXPECT_TRUE(logger.contains("File: pkg/second, path: " + temp / "untar.temp/second"));
    // What was read before the failure never reaches the unit.
    EXPECT_EQ(test::files_below(unit), (files{{"first", "1"}}));
    EXPECT_FALSE(work_folder_left());
}

TEST_F(TarUnpack, EntriesThatLeadOutsideAndLinksFailTheWholeArchive) {
    const std::vector<std::pair<std::string, test::tar_builder>> cases = [] {
        std::vector<std::pair<std::string, test::tar_builder>> list;
        const auto with = [&](const std::string& label, auto add) {
            test::tar_builder archive;
            archive.file("pkg/good", "good");
            add(archive);
            archive.file("pkg/later", "later").end();
            list.emplace_back(label, archive);
        };
        with("Archive entry pkg/../outside leads outside",
             [](test::tar_builder& a) { a.file("pkg/../outside", "escaped"); });
        with("Archive entry pkg/sub/../../outside leads outside",
             [](test::tar_builder& a) { a.file("pkg/sub/../../outside", "escaped"); });
        with("Archive entry pkg//tmp/absolute leads outside",
             [](test::tar_builder& a) { a.file("pkg//tmp/absolute", "escaped"); });
        with("Archive entry pkg/link is a link or device (type 2)", [](test::tar_builder& a) {
            a.header("pkg/link", 0, '2', "", "../../").file("pkg/link/outside", "escaped");
        });
        with("Archive entry pkg/hard is a link or device (type 1)",
             [](test::tar_builder& a) { a.header("pkg/hard", 0, '1', "", "pkg/good"); });
        with("Archive entry pkg/device is a link or device (type 3)",
             [](test::tar_builder& a) { a.header("pkg/device", 0, '3'); });
        return list;
    }();
    for (const auto& [text, archive] : cases) {
        const std::string failure = unpack(archive.bytes());
        EXPECT_EQ(failure.rfind(text, 0), 0u) << failure;
        EXPECT_TRUE(ends_with(failure, ". Unpacking tar file failed.")) << failure;
        EXPECT_EQ(test::files_below(outer.path()), files{}) << text;
        EXPECT_FALSE(work_folder_left()) << text;
    }
    EXPECT_FALSE(fs::exists(temp / "outside"));
    EXPECT_FALSE(fs::exists("/tmp/absolute"));
}

TEST_F(TarUnpack, BrokenHeadersAndStreamsFailWithTheirOwnText) {
    test::tar_builder octal;
    octal.header("pkg/a", 0, '0').end();
    std::string bytes = octal.bytes();
    bytes.replace(124, 11, "0000000009x");
    EXPECT_EQ(unpack(bytes),
              "The size field of the entry is not an octal number. Unpacking tar file failed.");

    test::tar_builder huge;
    huge.header("pkg/huge", 077777777777ULL, '0').end();
    EXPECT_EQ(unpack(huge.bytes()),
              "read failed: an entry of 8589934591 bytes runs past the end of the archive. "
              "Unpacking tar file failed.");

    test::tar_builder short_name;
    short_name.file("ab", "x").end();
    EXPECT_EQ(unpack(short_name.bytes()),
              "Archive entry name ab is too short. Unpacking tar file failed.");

    memory_stream empty;
    EXPECT_THROW(
        {
            try {
                tar::read_archive(empty, unit, never);
            } catch (const intl_exception& e) {
                EXPECT_EQ(e.message(),
                          "unpack failed. Stream is not valid.. Unpacking tar file failed.");
                throw;
            }
        },
        intl_exception);
    EXPECT_EQ(test::files_below(outer.path()), files{});
}

TEST_F(TarUnpack, AnInterruptStopsWith1500AndLeavesNothing) {
    test::tar_builder archive;
    archive.file("pkg/a", "a").file("pkg/b", "b").end();
    set_event stop;
    try {
        unpack(archive.bytes(), stop);
        FAIL() << "not interrupted";
    } catch (const extl_exception& e) {
        EXPECT_EQ(e.code(), sync_error_code::interrupted);
    }
    EXPECT_EQ(test::files_below(outer.path()), files{});
    EXPECT_FALSE(work_folder_left());
}

TEST_F(TarUnpack, AFolderThatCannotBeCopiedOntoTheUnitFailsTheUnpack) {
    test::write_file(unit + "idx", "a file where the package has a folder");
    test::tar_builder archive;
    archive.file("pkg/top", "top").file("pkg/idx/nebro.idx", "header").end();
    EXPECT_EQ(unpack(archive.bytes()), "tar::unpack failed");
    EXPECT_FALSE(work_folder_left());
}

}  // namespace
}  // namespace orvel
