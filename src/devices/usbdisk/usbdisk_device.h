// Every unit that appears as a removable volume: its files on that volume. As it is, the
// file-volume models, whose courses are slots of one course data file.
#pragma once

#include <cstdint>
#include <string>

#include "base/events.h"
#include "devices/device.h"
#include "devices/model_rows.h"
#include "devices/usbdisk/full_update_response.h"
#include "devices/usbdisk/usbdisk_course.h"
#include "platform/stdio_file.h"
#include "platform/volume_root.h"

namespace orvel {

class USBDiskDevice : public device {
public:
    USBDiskDevice(const model_row& row, event_base& interrupt_event)
        : row_(row), interrupt_event_(interrupt_event) {}
    ~USBDiskDevice() override;

    // The marker file or folder at the root that identifies the model's volume.
    std::string identity() override { return row_.marker; }
    // Opens the course data file for update.
    bool open(const std::string& root) override;
    void close() override;
    bool is_open() override;
    // Writes the course into its slot of the course data file, and its side file.
    bool write_course() override;
    sync_response& plain_response() override { return plain_response_; }
    sync_response& course_response() override { return course_response_; }
    void check_course_data(std::uint32_t course_id, byte_vector data) override;
    virtual std::string course_file_name();
    virtual std::string setup_file_name() { return row_.setup_file; }
    // The unit's own first bytes of its set-up file are never replaced.
    std::uint32_t setup_file_offset() const { return row_.setup_offset; }
    // Where the full-update answer is parsed; it stays until the next one.
    virtual USBDiskFullUpdateResponse& restore_response() { return restore_response_; }
    // Positions the course file where the course goes: slot index - 1 of equal-sized slots.
    virtual void seek_course(course& record);

    const model_row& row() const { return row_; }
    const std::string& root() const { return root_; }
    USBDiskCourse& downloaded_course() { return course_response_.record; }

protected:
    void set_root(const std::string& root) { root_ = root; }
    // Opens the volume of the root, through which every file of the unit is reached;
    // when it cannot, throws intl_exception "File (<root><first_file>) doesn't exist", as
    // for a missing file. close() lets it go.
    void open_volume(const std::string& root, const std::string& first_file);
    const platform::volume_root& volume() const { return volume_; }
    stdio_file& course_file() { return course_file_; }
    event_base& interrupt_event() { return interrupt_event_; }

private:
    const model_row& row_;
    event_base& interrupt_event_;
    std::string root_;  // ends with "/"; paths are root + name
    platform::volume_root volume_;
    sync_response plain_response_;
    USBDiskCourseResponse course_response_;
    USBDiskFullUpdateResponse restore_response_;
    stdio_file course_file_;
};

// Writes all bytes at the file's position (word "write").
void write_all(stdio_file& file, const byte_vector& bytes);
// Moves the file's position from the start (word "seek").
void seek_from_start(stdio_file& file, std::uint64_t position);

}  // namespace orvel
