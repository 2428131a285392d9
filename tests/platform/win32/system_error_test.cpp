#include "platform/system_error.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cerrno>
#include <cstring>

#include "platform/clock.h"
#include "platform/executable_path.h"
#include "platform/system_info.h"
#include "support/capture_logger.h"

namespace orvel::platform {
namespace {

TEST(Win32ErrorText, TheSystemsTextForANumberWithoutItsLineBreak) {
    const std::string text = error_text(ERROR_FILE_NOT_FOUND);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n');
    EXPECT_NE(text.back(), '\r');
    EXPECT_NE(text, error_text(ERROR_ACCESS_DENIED));
    // A number the system has no text for gives an empty one, not a failure text.
    EXPECT_EQ(error_text(0x2FFFFFFF), "");
}

TEST(Win32ErrorText, TheFailedCallsLineNamesTheCallTheNumberAndTheText) {
    test::capture_logger logger;
    ::SetLastError(ERROR_SHARING_VIOLATION);
    EXPECT_EQ(last_error(), ERROR_SHARING_VIOLATION);
    log_system_error("CreateFile ");
    EXPECT_TRUE(logger.contains("CreateFile : 32. " + error_text(ERROR_SHARING_VIOLATION)))
        << (logger.messages().empty() ? "" : logger.messages().front());
}

TEST(Win32ErrorText, RuntimeNumbersGetTheRuntimesTextNotTheSystemsOne) {
    // errno 2 and system error 2 share a number but not a meaning on Windows.
    EXPECT_EQ(runtime_error_text(ENOENT), std::strerror(ENOENT));
    EXPECT_EQ(runtime_error_text(EACCES), std::strerror(EACCES));
}

TEST(Win32ErrorText, SharingViolationsAndDeniedAccessAreHeldFiles) {
    EXPECT_TRUE(
        is_held_by_another(std::error_code(ERROR_SHARING_VIOLATION, std::system_category())));
    EXPECT_TRUE(is_held_by_another(std::error_code(ERROR_ACCESS_DENIED, std::system_category())));
    EXPECT_FALSE(is_held_by_another(std::error_code(ERROR_FILE_NOT_FOUND, std::system_category())));
    // The C runtime's EACCES (13) is no system number.
    EXPECT_FALSE(is_held_by_another(std::error_code(EACCES, std::generic_category())));
}

TEST(Win32Process, TheExecutablesFolderEndsWithABackslashAndHoldsIt) {
    const std::string folder = executable_dir();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '\\');
    EXPECT_NE(::GetFileAttributesA((folder + "win32_platform_tests.exe").c_str()),
              INVALID_FILE_ATTRIBUTES);
}

TEST(Win32Process, TheOsLineNamesA64BitSystemAndItsVersion) {
    std::string description;
    ASSERT_TRUE(describe_os(description));
    // This is a 64-bit process: its system is a 64-bit one although it is no WOW64 process.
    EXPECT_EQ(description.rfind("Win64 ", 0), 0u) << description;
    EXPECT_NE(description.find('.'), std::string::npos) << description;
}

TEST(Win32Process, CalendarTimesOfTheSystemClock) {
    std::tm utc{};
    ASSERT_TRUE(utc_time(1772694489, utc));  // 2026-03-05 07:08:09 UTC
    EXPECT_EQ(utc.tm_year, 126);
    EXPECT_EQ(utc.tm_mon, 2);
    EXPECT_EQ(utc.tm_mday, 5);
    EXPECT_EQ(utc.tm_hour, 7);
    EXPECT_EQ(utc.tm_sec, 9);
    std::tm local{};
    EXPECT_TRUE(local_time(1772694489, local));
    EXPECT_FALSE(utc_time(static_cast<std::time_t>(-1), utc));
}

}  // namespace
}  // namespace orvel::platform
