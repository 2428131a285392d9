#include "platform/stdio_file.h"

#include <cerrno>
#include <filesystem>

#include "base/failures.h"
#include "base/format.h"
#include "base/log_hub.h"
#include "platform/system_error.h"

namespace orvel {

stdio_file::~stdio_file() {
    try {
        close();
    } catch (const intl_exception& e) {
        log(3, "%s", e.message().c_str());
    }
}

namespace {

bool names_file(const std::string& path) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    return std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

}  // namespace

void stdio_file::open(const std::string& path, bool update, bool create_if_missing) {
    close();
    path_ = path;
    const char* mode = nullptr;
    if (names_file(path)) {
        mode = update ? "rb+" : "rb";
    } else if (create_if_missing) {
        mode = update ? "wb+" : "wb";
    } else {
        throw intl_exception("File (" + path + ") doesn't exist");
    }
    open_mode(mode, "open");
}

void stdio_file::create(const std::string& path, bool overwrite) {
    close();
    path_ = path;
    if (!overwrite && names_file(path)) {
        throw intl_exception("File (" + path + ") already exists");
    }
    open_mode("wb+", "create");
}

void stdio_file::open(const platform::volume_root& volume, const std::string& relative, bool update,
                      bool create_if_missing) {
    close();
    path_ = volume.path_of(relative);
    const platform::entry_kind kind = volume.entry(relative).kind;
    if (kind == platform::entry_kind::other) {
        errno = EPERM;
        check(true, "open");
    }
    if (kind == platform::entry_kind::file) {
        adopt(volume.open_file(
                  relative, update ? platform::file_access::update : platform::file_access::read),
              update ? "rb+" : "rb", "open");
    } else if (create_if_missing) {
        adopt(volume.open_file(relative, platform::file_access::create), update ? "wb+" : "wb",
              "open");
    } else {
        throw intl_exception("File (" + path_ + ") doesn't exist");
    }
}

void stdio_file::create(const platform::volume_root& volume, const std::string& relative,
                        bool overwrite) {
    close();
    path_ = volume.path_of(relative);
    const platform::entry_kind kind = volume.entry(relative).kind;
    if (kind == platform::entry_kind::other) {
        errno = EPERM;
        check(true, "create");
    }
    if (!overwrite && kind == platform::entry_kind::file) {
        throw intl_exception("File (" + path_ + ") already exists");
    }
    adopt(volume.open_file(relative, platform::file_access::create), "wb+", "create");
}

void stdio_file::close() {
    finish(true);
}

void stdio_file::close_unsynced() {
    finish(false);
}

void stdio_file::finish(bool sync) {
    if (handle_ != nullptr) {
        bool failed = false;
        int error = 0;
        const auto note = [&](bool step_failed) {
            if (step_failed && !failed) {
                failed = true;
                error = errno;
            }
        };
        note(std::fflush(handle_) != 0);
        // The data must be on the unit before it is unplugged.
        if (writable_ && sync) {
            note(!flush_to_disk());
        }
        note(std::fclose(handle_) != 0);
        handle_ = nullptr;
        writable_ = false;
        if (failed) {
            errno = error;
            try {
                check(true, "close");
            } catch (const intl_exception&) {
                path_.clear();
                throw;
            }
        }
    }
    path_.clear();
}

std::uint64_t stdio_file::size() {
    try {
        check_open("size");
        const std::uint64_t kept = tell();
        seek(0, SEEK_END);
        const std::uint64_t end = tell();
        seek(static_cast<std::int64_t>(kept), SEEK_SET);
        return end;
    } catch (const intl_exception&) {
        check(true, "size");
        throw;  // check always throws here
    }
}

void stdio_file::check(bool failed, const char* word) {
    if (!failed) {
        return;
    }
    const int error = errno;
    std::string text;
    if (handle_ == nullptr || std::ferror(handle_) != 0) {
        text = format_text("%s failed: %s (%s)", word, platform::runtime_error_text(error).c_str(),
                           path_.c_str());
    } else {
        text = format_text("%s failed: EOF (%s)", word, path_.c_str());
    }
    if (handle_ != nullptr) {
        // A later failure must not be reported with this one's indicator.
        std::clearerr(handle_);
    }
    throw intl_exception(text);
}

void stdio_file::check_open(const char* word) {
    if (handle_ == nullptr) {
        errno = EBADF;
        check(true, word);
    }
}

}  // namespace orvel
