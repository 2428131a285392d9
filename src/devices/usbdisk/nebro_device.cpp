#include "devices/usbdisk/nebro_device.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "base/failures.h"
#include "base/format.h"
#include "base/log_hub.h"
#include "devices/usbdisk/relative_name.h"

namespace orvel {

namespace {

// The custom data file is an array of course slots of this size.
constexpr std::uint32_t custom_slot_size = 1808;
// A custom course's first ten bytes, descrambled, hold its index entry's head and its id.
constexpr std::size_t custom_head_size = 10;
constexpr std::size_t name_record_size = 50;
// Where the course name lies in the course data.
constexpr std::size_t course_name_offset = 10;

// Exactly count bytes at the file's position (word "read").
void read_exactly(stdio_file& file, void* out, std::size_t count) {
    file.check(std::fread(out, 1, count, file.handle()) != count, "read");
}

std::uint16_t little_endian_16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

char read_setup_byte(const std::string& root, const std::string& marker) {
    try {
        const platform::volume_root volume(root);
        stdio_file setup;
        setup.open(volume, marker, false, false);
        char byte = 0;
        setup.check(std::fread(&byte, 1, 1, setup.handle()) != 1, "read");
        return byte;
    } catch (const intl_exception& e) {
        log(3, "%s", e.message().c_str());
        raise_sync_error(sync_error_code::device_read_failed);
    }
}

void require_setup_type(const std::string& setup_type, char setup_byte) {
    if (setup_type.size() != 1 || setup_type[0] != setup_byte) {
        raise_sync_error(sync_error_code::course_variant_mismatch);
    }
}

}  // namespace

void nebro_device::check_setup_type(const std::string& setup_type, const std::string& root) const {
    if (row().setup_type_byte) {
        require_setup_type(setup_type, read_setup_byte(root, row().marker));
    }
}

bool nebro_device::open(const std::string& root) {
    if (row().setup_type_byte) {
        setup_byte_ = read_setup_byte(root, row().marker);
    }
    close();
    log(3, "Device %s\r\n", root.c_str());
    const std::string header_name = "idx/" + index_file_name();
    if (root.empty()) {
        // No volume was found: the bare name would be looked for in the working directory.
        throw intl_exception("File (" + header_name + ") doesn't exist");
    }
    try {
        open_volume(root, header_name);
        stdio_file header;
        header.open(volume(), header_name, false, false);
        seek_from_start(header, 4);
        std::uint8_t counts[4];
        read_exactly(header, counts, sizeof counts);
        header.close();
        course_count_ = little_endian_16(counts);
        courses_per_file_ = little_endian_16(counts + 2);
    } catch (const intl_exception&) {
        close();
        throw;
    }
    // Only a header that was read makes the unit open.
    set_root(root);
    index_folder_ = "idx/";
    name_folder_ = "name/";
    custom_folder_ = "cstm/";
    return is_open();
}

void nebro_device::close() {
    USBDiskDevice::close();
    name_file_.close();
    index_folder_.clear();
    name_folder_.clear();
    custom_folder_.clear();
}

bool nebro_device::is_open() {
    return !root().empty() && !index_folder_.empty();
}

bool nebro_device::write_course() {
    if (row().setup_type_byte) {
        require_setup_type(downloaded_course().setupType, setup_byte_);
    }
    if (!USBDiskDevice::write_course()) {
        return false;
    }
    return write_course_name(downloaded_course());
}

void nebro_device::seek_course(course& record) {
    const auto k = static_cast<std::uint32_t>(record.index);
    if (record.custom && k >= course_count_) {
        prepare_custom_course(record);
        return;
    }
    if (!record.custom && k < course_count_) {
        seek_standard_course(k);
        return;
    }
    log(3, "bCustom = %d, glf_idx = %d, m_courseCount = %d", record.custom ? 1 : 0,
        static_cast<int>(record.index), static_cast<int>(course_count_));
    throw intl_exception("Incompatible bCustom and glf_idx values");
}

void nebro_device::seek_standard_course(std::uint32_t k) {
    if (courses_per_file_ == 0) {
        throw intl_exception("The index header " +
                             volume().path_of(index_folder_ + index_file_name()) +
                             " gives 0 courses per index file");
    }
    stdio_file index;
    index.open(volume(), index_folder_ + format_text("%03u", k / courses_per_file_), false, false);
    seek_from_start(index, std::uint64_t{k % courses_per_file_} * course_index_entry::size);
    read_exactly(index, current_entry_.bytes.data(), course_index_entry::size);
    index.close();

    // The entry comes from the service's package: it must not point off the volume.
    const std::string data_file =
        current_entry_.folder_name() + "/" + current_entry_.data_file_name();
    if (!stays_below_root(data_file)) {
        throw intl_exception("Course data file " + data_file + " is not below " + root());
    }
    course_file().open(volume(), data_file, true, false);
    seek_from_start(course_file(), current_entry_.offset());
}

void nebro_device::prepare_custom_course(course& record) {
    const std::uint32_t m = static_cast<std::uint32_t>(record.index) - course_count_;
    const std::uint64_t offset = std::uint64_t{m} * custom_slot_size;
    // A longer course would run into the next member's course.
    if (record.glf.size() < custom_head_size || record.glf.size() > custom_slot_size ||
        offset > std::numeric_limits<std::uint32_t>::max()) {
        throw intl_exception(
            format_text("A custom course of %zu bytes at index %d does not fit a "
                        "%u-byte slot of the custom data file",
                        record.glf.size(), static_cast<int>(record.index), custom_slot_size));
    }
    current_entry_ = course_index_entry{};
    custom_offset_ = static_cast<std::uint32_t>(offset);
    current_entry_.set_offset(custom_offset_);
    current_entry_.set_course_id(static_cast<std::uint16_t>(record.id_course));
    current_entry_.put_text(14, "cstm");
    current_entry_.put_text(18, custom_data_file_name().substr(0, 4));

    const model_key& a = key_a();
    byte_vector head(record.glf.begin(), record.glf.begin() + custom_head_size);
    for (std::uint32_t i = 0; i < custom_head_size; ++i) {
        head[i] ^= a[(record.id_course + i) % key_length()];
    }
    std::copy_n(head.begin(), 8, current_entry_.bytes.begin());
    const std::uint16_t found = little_endian_16(&head[8]);
    if (found != current_entry_.course_id()) {
        log(3, "Expected couse id: %d. Downloaded course id: %d\r\n",
            static_cast<int>(current_entry_.course_id()), static_cast<int>(found));
        throw intl_exception("Incorrect course id.");
    }

    if (!volume().create_folders(custom_folder_)) {
        throw intl_exception("Can't create the folder " + volume().path_of(custom_folder_));
    }
    stdio_file index;
    index.open(volume(), custom_folder_ + custom_index_file_name(), true, true);
    seek_from_start(index, std::uint64_t{m} * course_index_entry::size);
    write_all(index, byte_vector(current_entry_.bytes.begin(), current_entry_.bytes.end()));
    index.close();
    course_file().open(volume(), custom_folder_ + custom_data_file_name(), true, true);
    seek_from_start(course_file(), custom_offset_);
}

bool nebro_device::write_course_name(course& record) {
    const std::string file = current_entry_.name_file_name();
    if (!row().name_records || file.empty()) {
        return true;
    }
    if (!stays_below_root(file)) {
        throw intl_exception("Name file " + file + " is not below " +
                             volume().path_of(name_folder_));
    }
    name_file_.open(volume(), name_folder_ + file, true, false);

    byte_vector name(name_record_size, 0);
    const std::size_t length = std::min(record.course_name.size(), name_record_size - 1);
    std::copy_n(record.course_name.begin(), length, name.begin());
    // Noise after the terminator, so that the key does not show through a short name.
    for (std::size_t d = length + 1; d < name_record_size; ++d) {
        name[d] = static_cast<std::uint8_t>(record.id_course * static_cast<unsigned>(std::rand()));
    }
    const model_key& a = key_a();
    const model_key& b = key_b();
    for (std::uint32_t d = 0; d < name_record_size; ++d) {
        name[d] ^= b[d % key_length()] ^ a[(d + record.id_course) % key_length()];
    }

    const std::uint64_t at = std::uint64_t{current_entry_.name_record()} * name_record_size;
    seek_from_start(name_file_, at);
    // The record must already be there: the package sizes the name file.
    byte_vector old(name_record_size);
    read_exactly(name_file_, old.data(), old.size());
    seek_from_start(name_file_, at);
    write_all(name_file_, name);
    name_file_.close();
    return true;
}

void nebro_device::check_course_data(std::uint32_t course_id, byte_vector data) {
    const model_key& a = key_a();
    const model_key& b = key_b();
    for (std::uint32_t i = 0; i < data.size(); ++i) {
        data[i] ^= a[(i + course_id) % key_length()];
    }
    std::string name;
    for (std::uint32_t j = 0; j < name_record_size && course_name_offset + j < data.size(); ++j) {
        name.push_back(static_cast<char>(data[course_name_offset + j] ^ b[j % key_length()]));
    }
    log(3, "%s", name.substr(0, name.find('\0')).c_str());
}

}  // namespace orvel
