// The status the command loop keeps and the text in which the page receives it.
#pragma once

#include <cstdint>
#include <string>

namespace orvel {

// The Status the page receives.
enum page_status : std::int32_t {
    no_page = -1,  // never sent
    page_attached = 0,
    unit_absent = 1,  // chosen but not attached, or ejected
    unit_present = 2,
    updating = 3,
    update_finished = 4,
    command_failed = 5,
};

struct status_record {
    std::int32_t status = no_page;  // a page_status, held as the number the page reads
    std::uint32_t code = 0;         // a sync_error_code, 0 for none
    std::uint8_t eject_needed = 0;
};

// "2.5.8.0": the version text with full stops, as the page compares it.
std::string page_version_text();
std::string status_text(const status_record& record);
// Logs the status text, which reaches the page and the log file as a JSON object.
void send_status(const status_record& record);

}  // namespace orvel
