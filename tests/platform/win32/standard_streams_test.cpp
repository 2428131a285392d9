#include "platform/standard_streams.h"

#include <gtest/gtest.h>
#include <io.h>

#include <cstdio>

#include "platform/stdio_file.h"
#include "support/temp_folder.h"

namespace orvel::platform {
namespace {

// Keeps the test's own output and puts it back afterwards.
class kept_streams {
public:
    kept_streams() : out_(::_dup(::_fileno(stdout))), error_(::_dup(::_fileno(stderr))) {}
    ~kept_streams() {
        std::fflush(stdout);
        std::fflush(stderr);
        ::_dup2(out_, ::_fileno(stdout));
        ::_dup2(error_, ::_fileno(stderr));
        ::_close(out_);
        ::_close(error_);
    }
    kept_streams(const kept_streams&) = delete;
    kept_streams& operator=(const kept_streams&) = delete;

private:
    int out_;
    int error_;
};

TEST(Win32StandardStreams, WhatLibrariesPrintLandsInTheLogFile) {
    test::temp_folder folder("streams");
    const std::string path = folder / "OrvelSync2_Service.log";
    {
        stdio_file log;
        log.open(path, true, true);
        const kept_streams kept;
        ASSERT_TRUE(point_standard_streams_at(log.handle()));
        std::printf("access line\n");
        std::fprintf(stderr, "error line\n");
        std::fflush(stdout);
        std::fflush(stderr);
    }
    EXPECT_EQ(test::read_file(path), "access line\nerror line\n");
}

}  // namespace
}  // namespace orvel::platform
