#include <algorithm>
#include <cstring>

#include "base/failures.h"
#include "base/format.h"
#include "base/log_hub.h"
#include "devices/usbdisk/file_models.h"

namespace orvel {

namespace {

constexpr unsigned course_file_count = 100;
constexpr std::size_t name_offset = 10;
constexpr std::size_t name_field = 90;

std::string numbered_course_file(unsigned number) {
    return format_text("KVINC%03u.GLF", number);
}

// The zero-terminated name in bytes 10-99; a name that fills the field is taken whole.
std::string stored_name(const std::uint8_t* field, std::size_t available) {
    const std::size_t limit = std::min(available, name_field);
    const auto* end = std::find(field, field + limit, std::uint8_t(0));
    return std::string(field, end);
}

}  // namespace

bool JTCDevice::open(const std::string& root) {
    close();
    log(3, "Device %s\r\n", root.c_str());
    set_root(root);
    if (!root.empty()) {
        open_volume(root, std::string());
    }
    return is_ready();
}

std::string JTCDevice::setup_file_name() {
    throw intl_exception("setup.smi not supported");
}

bool JTCDevice::is_ready() {
    return !root().empty();
}

bool JTCDevice::write_course_file(course& record) {
    seek_course(record);
    write_all(course_file(), record.glf);
    return true;
}

void JTCDevice::seek_course(course& record) {
    const std::string name =
        record.glf.size() > name_offset
            ? stored_name(record.glf.data() + name_offset, record.glf.size() - name_offset)
            : std::string();
    stdio_file& file = course_file();
    bool have_free = false;
    unsigned free_number = 0;
    for (unsigned n = 0; n < course_file_count; ++n) {
        const std::string file_name = numbered_course_file(n);
        const platform::entry_kind kind = volume().entry(file_name).kind;
        if (kind == platform::entry_kind::missing || kind == platform::entry_kind::folder) {
            if (!have_free) {
                have_free = true;
                free_number = n;
            }
            continue;
        }
        if (kind == platform::entry_kind::other) {
            continue;  // refused, and not free either
        }
        std::uint8_t field[name_field + 1] = {};
        try {
            file.open(volume(), file_name, true, false);
            seek_from_start(file, name_offset);
            file.check(std::fread(field, 1, name_field, file.handle()) != name_field, "read");
        } catch (const intl_exception& e) {
            log(3, "%s\r\n", e.message().c_str());
            continue;
        }
        if (stored_name(field, name_field) == name) {
            seek_from_start(file, 0);
            return;
        }
        file.close();
    }
    if (!have_free) {
        raise_sync_error(sync_error_code::device_protocol);
    }
    file.create(volume(), numbered_course_file(free_number), false);
}

}  // namespace orvel
