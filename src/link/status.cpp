#include "link/status.h"

#include <boost/algorithm/string/erase.hpp>
#include <boost/algorithm/string/replace.hpp>

#include <cstdio>

#include "base/log_hub.h"
#include "base/version.h"
#include "platform/os_line.h"

namespace orvel {

std::string page_version_text() {
    std::string version = version_text;
    boost::algorithm::replace_all(version, ", ", ".");
    boost::algorithm::erase_all(version, "\n");
    return version;
}

std::string status_text(const status_record& record) {
    char suffix[32] = {};
    if (record.status == page_attached) {
        std::snprintf(suffix, sizeof suffix, ", \"Version\":\"%s\"", page_version_text().c_str());
    } else if (record.code != 0) {
        std::snprintf(suffix, sizeof suffix, ", \"Code\":%u", record.code);
    } else if (record.status == update_finished) {
        std::snprintf(suffix, sizeof suffix, ", \"EjectNeeded\":%u", unsigned(record.eject_needed));
    }
    char text[128] = {};
    std::snprintf(text, sizeof text, "{\"Status\":%u%s}", static_cast<unsigned>(record.status),
                  suffix);
    return text;
}

void send_status(const status_record& record) {
    const std::string text = status_text(record);
    log(3, "%s", text.c_str());
    if (record.status != page_attached && record.code != 0) {
        log_os_line();
    }
}

}  // namespace orvel
