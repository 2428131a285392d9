#include "devices/usbdisk/tar_reader.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "base/failures.h"
#include "base/format.h"
#include "base/log_hub.h"
#include "devices/usbdisk/library_install.h"
#include "devices/usbdisk/relative_name.h"
#include "devices/usbdisk/usbdisk_device.h"
#include "platform/file_ops.h"
#include "platform/stdio_file.h"
#include "platform/volume_root.h"

namespace orvel::tar {

namespace {

constexpr std::uint32_t block_size = 512;
using header_block = std::array<std::uint8_t, block_size>;

// The header fields the reader uses: offset and width.
constexpr std::size_t name_offset = 0;
constexpr std::size_t name_width = 100;
constexpr std::size_t size_offset = 124;
constexpr std::size_t size_width = 12;
constexpr std::size_t type_offset = 156;
constexpr std::size_t magic_offset = 257;
constexpr std::size_t prefix_offset = 345;
constexpr std::size_t prefix_width = 155;
// "ustar" and its zero: the POSIX header, whose bytes 345-499 hold the name's prefix. The
// old GNU header ("ustar  ") keeps times there instead.
constexpr std::array<std::uint8_t, 6> posix_magic{'u', 's', 't', 'a', 'r', 0};

// The folder every name in the service's packages starts with, which the unit does not have.
constexpr std::size_t package_folder_length = 4;

const char* const unpack_failed = "tar::unpack failed";

std::string text_up_to_zero(const std::uint8_t* bytes, std::size_t width) {
    const std::uint8_t* end = std::find(bytes, bytes + width, std::uint8_t{0});
    return std::string(bytes, end);
}

// Octal digits up to the first zero byte or blank; blanks in front, which some writers
// put there, are passed over.
std::uint64_t entry_size(const header_block& header) {
    std::size_t at = size_offset;
    const std::size_t end = size_offset + size_width;
    while (at < end && header[at] == ' ') {
        ++at;
    }
    std::uint64_t size = 0;
    for (; at < end && header[at] != 0 && header[at] != ' '; ++at) {
        // Base-256 sizes too: an entry that needs one would not fit the 32-bit stream.
        if (header[at] < '0' || header[at] > '7') {
            throw intl_exception("The size field of the entry is not an octal number");
        }
        size = size * 8 + (header[at] - '0');
    }
    return size;
}

std::uint64_t padding(std::uint64_t size) {
    return (block_size - size % block_size) % block_size;
}

// The value of a pax extended header's "path" record ("<length> path=<value>\n"); empty
// when the header has none.
std::string pax_path(const byte_vector& records) {
    static const std::string key = "path=";
    std::string path;
    std::size_t at = 0;
    while (at < records.size()) {
        std::size_t length = 0;
        std::size_t digits = at;
        while (digits < records.size() && records[digits] >= '0' && records[digits] <= '9' &&
               length <= records.size()) {
            length = length * 10 + (records[digits] - '0');
            ++digits;
        }
        // The length counts the whole record: its digits, the blank and the line feed too.
        if (digits == at || digits >= records.size() || records[digits] != ' ' ||
            length < digits - at + 2 || length > records.size() - at ||
            records[at + length - 1] != '\n') {
            throw intl_exception("Malformed pax header record");
        }
        const std::string record(records.begin() + digits + 1, records.begin() + at + length - 1);
        if (record.compare(0, key.size(), key) == 0) {
            path = record.substr(key.size());
        }
        at += length;
    }
    return path;
}

class archive_reader {
public:
    archive_reader(data_stream& stream, const std::string& folder, event_base& interrupt)
        : stream_(stream), folder_(folder), interrupt_(interrupt) {}

    void read() {
        if (!stream_.is_valid()) {
            throw intl_exception(std::string("unpack") + " failed. Stream is not valid.");
        }
        stream_.rewind();
        end_ = stream_.size();
        while (next_entry()) {
        }
    }

    const std::string& name() const { return name_; }
    const std::string& path() const { return path_; }

private:
    // False at the zero block that ends the archive.
    bool next_entry() {
        stream_.read(header_.data(), block_size);
        if (std::all_of(header_.begin(), header_.end(), [](std::uint8_t b) { return b == 0; })) {
            return false;
        }
        const std::uint64_t size = entry_size(header_);
        const char type = static_cast<char>(header_[type_offset]);
        switch (type) {
            case 'L':  // GNU long name of the next entry, in its data blocks
                read_data(size);
                long_name_ = text_up_to_zero(data_.data(), data_.size());
                break;
            case 'x':  // pax extended header of the next entry
                read_data(size);
                pax_path_ = pax_path(data_);
                break;
            case '0':
            case '\0':
            case '7':  // contiguous file: a regular file to every reader but its own
                name_ = entry_name();
                path_ = output_path(name_);
                read_data(size);
                write_file();
                forget_pending_names();
                break;
            case '1':
            case '2':
            case '3':
            case '4':
            case '6':
                // A unit's volume holds files and folders only, and a link would let a
                // later entry write through it to anywhere.
                name_ = entry_name();
                throw intl_exception("Archive entry " + name_ + " is a link or device (type " +
                                     std::string(1, type) + ")");
            default:  // folders, global pax headers and the like: nothing to write
                skip_data(size);
                if (type != 'g' && type != 'K') {
                    forget_pending_names();
                }
                break;
        }
        return true;
    }

    std::string entry_name() const {
        if (!pax_path_.empty()) {
            return pax_path_;
        }
        if (!long_name_.empty()) {
            return long_name_;
        }
        std::string name = text_up_to_zero(&header_[name_offset], name_width);
        if (std::equal(posix_magic.begin(), posix_magic.end(), &header_[magic_offset])) {
            const std::string prefix = text_up_to_zero(&header_[prefix_offset], prefix_width);
            if (!prefix.empty()) {
                name = prefix + "/" + name;
            }
        }
        return name;
    }

    std::string output_path(const std::string& name) const {
        if (name.size() < package_folder_length) {
            throw intl_exception("Archive entry name " + name + " is too short");
        }
        const std::string relative = name.substr(package_folder_length);
        if (!stays_below_root(relative)) {
            throw intl_exception("Archive entry " + name + " leads outside " + folder_);
        }
        return folder_ + relative;
    }

    void check_fits(std::uint64_t size) {
        const std::uint32_t at = stream_.tell();
        if (size > end_ - std::min(at, end_)) {
            throw intl_exception(
                format_text("read failed: an entry of %llu bytes runs past the end of the archive",
                            static_cast<unsigned long long>(size)));
        }
    }

    void read_data(std::uint64_t size) {
        check_fits(size);
        data_.resize(size);
        if (size > 0) {
            stream_.read(data_.data(), static_cast<std::uint32_t>(size));
        }
        stream_.skip(static_cast<std::uint32_t>(padding(size)));
        stop_if_interrupted();
    }

    void skip_data(std::uint64_t size) {
        check_fits(size);
        stream_.skip(static_cast<std::uint32_t>(size + padding(size)));
        stop_if_interrupted();
    }

    // Once an entry, when its data has been read.
    void stop_if_interrupted() {
        if (interrupt_.wait(0)) {
            raise_sync_error(sync_error_code::interrupted);
        }
    }

    void write_file() {
        std::string folders = path_;
        if (!platform::create_dirs(folders)) {
            throw intl_exception("Can't create the folders of " + path_);
        }
        // Created anew: a name that comes twice keeps the later entry alone, as tar does.
        stdio_file file;
        file.create(path_, true);
        write_all(file, data_);
        file.close_unsynced();
    }

    void forget_pending_names() {
        long_name_.clear();
        pax_path_.clear();
    }

    data_stream& stream_;
    const std::string& folder_;
    event_base& interrupt_;
    std::uint32_t end_ = 0;
    header_block header_{};
    byte_vector data_;  // one entry at a time, reused
    std::string long_name_;
    std::string pax_path_;
    std::string name_;
    std::string path_;
};

// Removes the work folder on every way out, so that neither an unpacked package nor a
// failed one stays on the computer.
class work_folder {
public:
    explicit work_folder(std::string path) : path_(std::move(path)) {
        std::string folders = path_ + "/";
        if (!platform::remove_all(path_) || !platform::create_dirs(folders)) {
            throw intl_exception(unpack_failed);
        }
    }
    ~work_folder() { platform::remove_all(path_); }
    work_folder(const work_folder&) = delete;
    work_folder& operator=(const work_folder&) = delete;

    std::string path() const { return path_ + "/"; }
    void remove() {
        if (!platform::remove_all(path_)) {
            throw intl_exception(unpack_failed);
        }
    }

private:
    std::string path_;
};

// The unpacked files below the folder, each folder's files before its subfolders, in name
// order.
bool list_files(const platform::volume_root& unpacked, const std::string& folder,
                const std::string& work, std::vector<unit_file>& files) {
    std::vector<platform::volume_entry> entries;
    if (!unpacked.list_folder(folder, entries)) {
        return false;
    }
    std::sort(entries.begin(), entries.end(),
              [](const platform::volume_entry& a, const platform::volume_entry& b) {
                  return a.name < b.name;
              });
    for (const platform::volume_entry& entry : entries) {
        if (entry.kind == platform::entry_kind::file) {
            files.push_back({folder + entry.name, work + folder + entry.name});
        }
    }
    for (const platform::volume_entry& entry : entries) {
        if (entry.kind == platform::entry_kind::folder &&
            !list_files(unpacked, folder + entry.name + "/", work, files)) {
            return false;
        }
    }
    return true;
}

}  // namespace

void read_archive(data_stream& stream, const std::string& folder, event_base& interrupt) {
    archive_reader reader(stream, folder, interrupt);
    try {
        reader.read();
    } catch (const intl_exception& e) {
        log(3, "%s", e.message().c_str());
        log(3, "File: %s, path: %s", reader.name().c_str(), reader.path().c_str());
        throw intl_exception(e.message() + ". Unpacking tar file failed.");
    }
}

void unpack(data_stream& stream, const std::string& destination, event_base& interrupt) {
    work_folder work(platform::temp_dir() + "untar.temp");
    read_archive(stream, work.path(), interrupt);
    std::vector<unit_file> files;
    {
        // Held open only while it is listed: on Windows an open folder cannot be removed.
        const platform::volume_root unpacked(work.path());
        if (!unpacked.is_open() || !list_files(unpacked, "", work.path(), files)) {
            throw intl_exception(unpack_failed);
        }
    }
    // The package is on the unit whole only when every file is: else the update must not be
    // confirmed.
    const platform::volume_root unit(destination);
    if (!unit.is_open() || !install_files(unit, files)) {
        throw intl_exception(unpack_failed);
    }
    work.remove();
}

}  // namespace orvel::tar
