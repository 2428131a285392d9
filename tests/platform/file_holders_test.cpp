#include <gtest/gtest.h>

#include <fstream>

#include "platform/file_ops.h"
#include "support/capture_logger.h"
#include "support/child_process.h"
#include "support/temp_folder.h"

namespace orvel {
namespace {

std::size_t process_lines(const test::capture_logger& logger) {
    std::size_t count = 0;
    for (const std::string& message : logger.messages()) {
        count += message.rfind("Process ", 0) == 0 ? 1 : 0;
    }
    return count;
}

TEST(FileHolders, AChildThatHoldsTheFileIsNamed) {
    test::temp_folder folder("holders");
    const std::string path = folder / "held.bin";
    test::write_file(path, "held");
    test::child_process child({"sleep", "60"}, path);

    test::capture_logger logger;
    platform::report_file_holders(path);
    EXPECT_TRUE(logger.contains("Sharing violations for " + path));
    EXPECT_TRUE(logger.contains("Process " + test::resolved_path(test::program_path("sleep"))))
        << logger.messages().size();
    EXPECT_EQ(process_lines(logger), 1u);

    child.kill();
    logger.clear();
    platform::report_file_holders(path);
    EXPECT_TRUE(logger.contains("Sharing violations for " + path));
    EXPECT_EQ(process_lines(logger), 0u) << "a holder that is gone must not be named";
}

TEST(FileHolders, OnlyOpenDescriptorsOfThisProcessCount) {
    test::temp_folder folder("holders");
    const std::string path = folder / "mine.bin";
    const std::string other = folder / "other.bin";
    test::write_file(path, "mine");
    test::write_file(other, "other");
    const std::string self = test::resolved_path("/proc/self/exe");

    test::capture_logger logger;
    {
        std::ifstream in(path);
        std::ifstream unrelated(other);
        platform::report_file_holders(path);
    }
    EXPECT_TRUE(logger.contains("Process " + self));
    EXPECT_EQ(process_lines(logger), 1u);

    logger.clear();
    platform::report_file_holders(path);
    EXPECT_EQ(process_lines(logger), 0u) << "closed descriptors must not name this process";

    logger.clear();
    platform::report_file_holders(folder / "missing.bin");
    EXPECT_TRUE(logger.contains("Sharing violations for " + folder / "missing.bin"));
    EXPECT_TRUE(logger.contains("stat: 2. No such file or directory"));
}

}  // namespace
}  // namespace orvel
