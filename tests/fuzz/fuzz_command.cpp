// The page's command texts: a text is a command with its members, or refused with 1200.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "link/sync_command.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        const orvel::sync_command_info info = orvel::parse_command(text);
        FUZZ_CHECK(info.command != orvel::sync_command::none);
        FUZZ_CHECK(orvel::command_number(info.command) <= 7);
        if (info.command == orvel::sync_command::update_course) {
            FUZZ_CHECK(text.find("courseCode") != std::string::npos);
        }
    } catch (const orvel::extl_exception& e) {
        FUZZ_CHECK(e.code() == orvel::sync_error_code::invalid_command);
    }
    return 0;
}
