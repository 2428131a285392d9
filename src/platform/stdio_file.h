// An owned stdio file and its path; other openers that honour locks may not write to it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/auto_fd.h"
#include "platform/volume_root.h"

namespace orvel {

class stdio_file {
public:
    stdio_file() = default;
    ~stdio_file();
    stdio_file(const stdio_file&) = delete;
    stdio_file& operator=(const stdio_file&) = delete;

    // An existing file opens as it is; a missing one (or a directory) is created with
    // create_if_missing, else "File (<path>) doesn't exist" is thrown.
    void open(const std::string& path, bool update, bool create_if_missing);
    // Creates or, with overwrite, truncates; else an existing file throws "already exists".
    void create(const std::string& path, bool overwrite);
    // The same for a file below a unit's root, reached without following a link; what is
    // not a regular file (a link, FIFO, device or socket) fails the open, after the
    // volume logged it. The path is the root's followed by the relative name.
    void open(const platform::volume_root& volume, const std::string& relative, bool update,
              bool create_if_missing);
    void create(const platform::volume_root& volume, const std::string& relative, bool overwrite);
    // Flushes the stdio buffer and the system's buffers, then closes ("close" on failure).
    void close();
    // As close, but the system's buffers are not waited for: for scratch files on the
    // computer, which need not outlive a power cut and would only slow a run of them down.
    void close_unsynced();
    // The length of the file; the position is kept.
    std::uint64_t size();
    // Throws intl_exception "<word> failed: <errno text> (<path>)" or
    // "<word> failed: EOF (<path>)" when failed is true.
    void check(bool failed, const char* word);
    // Cuts the file at the current position (word "trunc").
    void truncate_here();
    // Moves the position from SEEK_SET, SEEK_CUR or SEEK_END (word "seek").
    void seek(std::int64_t offset, int origin);
    // The position (word "tell").
    std::uint64_t tell();

    std::FILE* handle() const { return handle_; }
    const std::string& path() const { return path_; }
    bool is_open() const { return handle_ != nullptr; }

private:
    void open_mode(const char* mode, const char* word);
    // Takes the opened file as the handle for the mode: the lock first, then, for a "w"
    // mode, the cut. Fails the word when fd is not valid.
    void adopt(platform::auto_fd fd, const char* mode, const char* word);
    void finish(bool sync);
    // Hands what the system holds of the open file to the disk; false with errno set.
    bool flush_to_disk();

    // A closed file fails the operation word with "Bad file descriptor".
    void check_open(const char* word);

    std::FILE* handle_ = nullptr;
    std::string path_;
    bool writable_ = false;
};

}  // namespace orvel
