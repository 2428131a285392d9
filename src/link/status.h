// The status the command loop keeps and the text in which the page receives it.
#pragma once

#include <cstdint>
#include <string>

namespace orvel {

struct status_record {
    std::int32_t status = -1;  // -1: no page attached; never sent
    std::uint32_t code = 0;    // a sync_error_code, 0 for none
    std::uint8_t eject_needed = 0;
};

// "2.5.8.0": the version text with full stops, as the page compares it.
std::string page_version_text();
std::string status_text(const status_record& record);
// Logs the status text, which reaches the page and the log file as a JSON object.
void send_status(const status_record& record);

}  // namespace orvel
