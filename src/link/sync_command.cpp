#include "link/sync_command.h"

#include <rapidjson/error/error.h>

#include <cstring>
#include <iterator>

namespace orvel {

namespace {

constexpr std::size_t parse_stack_capacity = 1024;

struct command_text {
    const char* text;
    sync_command command;
};

constexpr command_text command_texts[] = {
    {"connect", sync_command::connect},
    {"disconnect", sync_command::disconnect},
    {"SearchDevice", sync_command::search_device},
    {"UpdateCourse", sync_command::update_course},
    {"FullUpdate", sync_command::full_update},
    {"RestoreDevice", sync_command::restore_device},
    {"EjectDevice", sync_command::eject_device},
};

sync_command find_command(const std::string& value) {
    for (const command_text& entry : command_texts) {
        if (value == entry.text) {
            return entry.command;
        }
    }
    raise_sync_error(sync_error_code::invalid_command, "parse: wrong command value: %s",
                     value.c_str());
}

}  // namespace

sync_command_info parse_command(const std::string& text) {
    // The document's own pool allocator grows in 64 KiB chunks. The iterative parser keeps
    // its nesting on the heap: a text of nothing but "[" must not exhaust the thread's stack.
    auto document = std::make_shared<rapidjson::Document>(nullptr, parse_stack_capacity);
    document->Parse<rapidjson::kParseIterativeFlag>(text.c_str(), text.size());
    if (document->HasParseError()) {
        raise_sync_error(sync_error_code::invalid_command, "parse error: %d (%u)",
                         static_cast<int>(document->GetParseError()),
                         static_cast<unsigned>(document->GetErrorOffset()));
    }

    sync_command_info info;
    info.json = json_value<sync_error_code>(std::move(document), sync_error_code::invalid_command);
    const json_value<sync_error_code>& json = info.json;
    info.command = find_command(json.string_member("command"));

    switch (info.command) {
        case sync_command::update_course:
            info.courseCode = json.string_member("courseCode");
            break;
        case sync_command::search_device:
        case sync_command::full_update:
            info.device = json.string_member("device");
            info.server = json.string_member("server");
            info.userKey = json.string_member("userKey");
            info.userSecret = json.string_member("userSecret");
            info.id_memberProduct = json.uint32_member("id_memberProduct");
            if (info.command == sync_command::search_device) {
                json.optional_string_member("serialNumber", info.serialNumber);
            }
            break;
        default:
            break;
    }
    return info;
}

}  // namespace orvel
