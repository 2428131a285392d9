#include "devices/usbdisk/unit_download.h"

#include <atomic>
#include <cstdio>
#include <vector>

#include "base/failures.h"
#include "devices/usbdisk/staged_file.h"
#include "platform/file_ops.h"
#include "platform/stdio_file.h"

namespace orvel {

namespace {

std::string scratch_path() {
    static std::atomic<unsigned> made{0};
    return platform::temp_file_path("orvelsync_unit_" + std::to_string(made++) + ".download");
}

void copy_from_unit(const platform::volume_root& volume, const std::string& relative,
                    const std::string& path) {
    stdio_file to;
    to.create(path, true);
    const platform::entry_kind kind = volume.entry(relative).kind;
    if (kind == platform::entry_kind::other) {
        throw intl_exception("Can't read " + volume.path_of(relative));
    }
    if (kind == platform::entry_kind::file) {
        stdio_file from;
        from.open(volume, relative, false, false);
        std::vector<char> buffer(1 << 16);
        for (;;) {
            const std::size_t read = std::fread(buffer.data(), 1, buffer.size(), from.handle());
            from.check(read == 0 && std::ferror(from.handle()) != 0, "read");
            if (read == 0) {
                break;
            }
            to.check(std::fwrite(buffer.data(), 1, read, to.handle()) != read, "write");
        }
    }
    to.close_unsynced();
}

}  // namespace

unit_download::unit_download(const platform::volume_root& volume, std::string relative,
                             bool keep_old)
    : volume_(volume), relative_(std::move(relative)), path_(scratch_path()) {
    // A copy left by a stopped agent must not lend its bytes to this download.
    if (!platform::remove(path_)) {
        throw intl_exception("Can't remove " + path_);
    }
    if (keep_old) {
        try {
            copy_from_unit(volume_, relative_, path_);
        } catch (const intl_exception&) {
            platform::remove(path_);
            throw;
        }
    }
}

unit_download::~unit_download() {
    platform::remove(path_);
}

void unit_download::put_in_place() {
    // A download that wrote nothing made no file; put_on_unit would copy an empty one.
    stdio_file written;
    written.open(path_, false, false);
    written.close();
    put_on_unit(volume_, path_, relative_);
}

}  // namespace orvel
