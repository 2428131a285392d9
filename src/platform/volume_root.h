// A unit's volume as the agent touches it. A stick that carries a unit's marker need not be
// a unit: it may hold links and special files. So every file below the root is reached
// through its folders, each opened from the one before without following a link, and only
// regular files are opened: a link, FIFO, device or socket in the way is refused, and the
// refusal is logged with the path and what stood there. The root itself is taken as the
// volume listing gives it.
//
// On Windows the folders along the way are held open while they are used, which keeps them
// from being renamed or replaced meanwhile, and a symbolic link or junction (a reparse point
// that names another place) counts as a link.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/auto_fd.h"

namespace orvel::platform {

// What stands at a name below the root, seen without following a link.
enum class entry_kind {
    missing,  // nothing, or a folder on the way is missing
    file,     // a regular file
    folder,
    other,  // a link, FIFO, device or socket, there or on the way, or a file on the way
};

struct volume_entry {
    std::string name;  // in a folder listing
    entry_kind kind = entry_kind::missing;
    std::uint64_t size = 0;  // of a file
};

// How a file below the root is opened; each refuses what is not a regular file.
enum class file_access {
    read,        // an existing file
    update,      // an existing file, read and written
    create,      // read and written, made when missing; not cut
    create_new,  // made here and now: fails when the name is taken
};

// Names below the root are relative, their parts separated by "/" (or "\\" on Windows); a
// name that ends with a separator names a folder. A ".." part is refused.
class volume_root {
public:
    volume_root();
    // Opens the root (see open); throws nothing, a failure leaves it closed.
    explicit volume_root(const std::string& root);
    ~volume_root();
    volume_root(const volume_root&) = delete;
    volume_root& operator=(const volume_root&) = delete;

    // Opens the root folder, which ends with the separator. False (logged) when it cannot.
    bool open(const std::string& root);
    void close();
    bool is_open() const;
    // The root, ending with the separator; empty while closed.
    const std::string& path() const { return root_; }
    // path() + relative: how messages name a file below the root.
    std::string path_of(const std::string& relative) const;

    // What stands at the name. `other` is logged as a refusal.
    volume_entry entry(const std::string& relative) const;
    // The file's descriptor (the C runtime's on Windows); invalid, with errno set, when the
    // file cannot be opened. What is refused is logged and sets errno to EPERM.
    auto_fd open_file(const std::string& relative, file_access access) const;
    // Creates the folders along the name that are missing (the last part only when the
    // name ends with a separator). False (logged) when one cannot be made or something
    // else stands in a folder's place.
    bool create_folders(const std::string& relative) const;
    // True without action when nothing or a folder stands there.
    bool remove_file(const std::string& relative) const;
    // The file `from` takes the place of `to` in one step, replacing what stood there.
    bool replace_file(const std::string& from, const std::string& to) const;
    // The bytes of a file of the computer into a new file below the root (the name must be
    // free). Not waited for (see sync), except on Windows. False (logged) when it fails.
    bool copy_in(const std::string& source, const std::string& relative) const;
    // What was written on the volume goes to its disk, so that a file renamed over an old one
    // afterwards is whole there. False (logged) when it fails.
    bool sync() const;
    // The folder's entries ("" is the root), "." and ".." left out; links and special
    // files come as `other`, unlogged. False when the folder cannot be read.
    bool list_folder(const std::string& relative, std::vector<volume_entry>& entries) const;
    // Bytes free for the caller; all ones (logged) when the query fails.
    std::uint64_t free_space() const;
    // The unit the file system gives files space in: a file takes whole units.
    std::uint64_t allocation_unit() const;

private:
    struct state;
    std::unique_ptr<state> state_;
    std::string root_;
};

// The parts of a relative name; false (logged) when one is "..", which would lead out.
bool split_relative(const std::string& root, const std::string& relative,
                    std::vector<std::string>& parts);
// Logs "Refused <path>: <what> stands there, not <wanted>".
void log_refusal(const std::string& path, const char* what, const char* wanted);

}  // namespace orvel::platform
