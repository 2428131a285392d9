// The base of the tar-package units (Nebro and the models after it): the course library is
// a folder tree on the volume. "idx/" holds the index header (in the model's index file)
// and index files "000", "001"... of 32-byte entries that point into course data files;
// "name/" holds files of scrambled 50-byte course-name records; "cstm/" holds the courses
// the member made, an index "cstm.idx" and a data file "000" of 1808-byte slots.
#pragma once

#include <cstdint>
#include <string>

#include "devices/model_key.h"
#include "devices/usbdisk/course_index_entry.h"
#include "devices/usbdisk/usbdisk_device.h"
#include "platform/stdio_file.h"

namespace orvel {

class nebro_device : public USBDiskDevice {
public:
    using USBDiskDevice::USBDiskDevice;

    // Reads the course counts from the index header (and the set-up byte of a model that
    // has one: 201 when it cannot be read); opens no course file yet.
    bool open(const std::string& root) override;
    void close() override;
    bool is_open() override;
    // The course, then its name record; 604 for a course not made for the set-up type.
    bool write_course() override;
    // Logs the course name the scrambled data carries.
    void check_course_data(std::uint32_t course_id, byte_vector data) override;
    std::string course_file_name() override { return row().package; }
    // Opens the course's data file at the course's place: a standard course where its
    // index entry points, a custom one in its slot after prepare_custom_course.
    void seek_course(course& record) override;

    virtual std::string index_file_name() { return row().index_file; }
    virtual std::string custom_index_file_name() { return "cstm.idx"; }
    virtual std::string custom_data_file_name() { return "000"; }
    virtual std::uint32_t key_length() { return model_key_length; }
    virtual const model_key& key_a() { return *row().key_a; }
    virtual const model_key& key_b() { return *row().key_b; }
    // Writes the custom course's index entry and opens its slot in the custom data file.
    virtual void prepare_custom_course(course& record);
    // Writes the course's scrambled name into the record its entry names, if any and if the
    // model keeps name records.
    virtual bool write_course_name(course& record);
    // 604 when the model takes only courses for its set-up type and this is not the one
    // the marker at the root names; 201 when that cannot be read.
    void check_setup_type(const std::string& setup_type, const std::string& root) const;

    std::uint16_t course_count() const { return course_count_; }
    std::uint16_t courses_per_file() const { return courses_per_file_; }
    const course_index_entry& current_entry() const { return current_entry_; }

private:
    void seek_standard_course(std::uint32_t k);

    char setup_byte_ = 0;
    stdio_file name_file_;
    course_index_entry current_entry_;
    std::uint16_t course_count_ = 0;
    std::uint16_t courses_per_file_ = 0;
    // Below the root: "name/", "idx/" and "cstm/" while the unit is open.
    std::string name_folder_;
    std::string index_folder_;
    std::string custom_folder_;
    std::uint32_t custom_offset_ = 0;
};

}  // namespace orvel
