// The page's commands: their texts and the record a text is parsed into.
#pragma once

#include <cstdint>
#include <string>

#include "base/failures.h"
#include "link/json_value.h"

namespace orvel {

enum class sync_command : std::uint32_t {
    none = 0,
    connect = 1,
    disconnect = 2,
    search_device = 3,
    update_course = 4,
    full_update = 5,
    restore_device = 6,
    eject_device = 7,
};

constexpr std::uint32_t command_number(sync_command command) noexcept {
    return static_cast<std::uint32_t>(command);
}

struct sync_command_info {
    sync_command command = sync_command::none;
    std::string server;
    std::string userKey;
    std::string userSecret;
    std::string device;
    std::string courseCode;
    std::string serialNumber;
    std::uint32_t id_memberProduct = 0;
    json_value<sync_error_code> json;
};

// Refuses a bad text with code 1200 and a message naming the fault.
sync_command_info parse_command(const std::string& text);

}  // namespace orvel
