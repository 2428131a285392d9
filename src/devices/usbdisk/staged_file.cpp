#include "devices/usbdisk/staged_file.h"

#include <boost/filesystem/operations.hpp>

#include "app/failures.h"
#include "platform/file_ops.h"

namespace orvel {

namespace {

// Beside the target, on the same volume, so that the rename replaces it in one step.
constexpr const char* staged_suffix = ".download";

}  // namespace

staged_file::staged_file(std::string target, bool keep_old)
    : target_(std::move(target)), path_(target_ + staged_suffix) {
    // A copy left by a stopped agent must not lend its bytes to this download.
    if (!platform::remove(path_)) {
        throw intl_exception("Can't remove " + path_);
    }
    if (keep_old && !platform::copy_file(target_, path_)) {
        throw intl_exception("Can't copy " + target_ + " to " + path_);
    }
}

staged_file::~staged_file() {
    if (!placed_) {
        platform::remove(path_);
    }
}

void staged_file::put_in_place() {
    boost::system::error_code error;
    // A download that wrote nothing made no file, and the rename would skip it quietly.
    if (!boost::filesystem::is_regular_file(path_, error) ||
        !platform::rename_file(path_, target_)) {
        throw intl_exception("Can't put " + path_ + " in place of " + target_);
    }
    placed_ = true;
}

}  // namespace orvel
