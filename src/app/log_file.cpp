#include "app/log_file.h"

#include "base/failures.h"
#include "base/log_hub.h"
#include "platform/file_ops.h"
#include "platform/private_files.h"

namespace orvel {

log_file::log_file(const std::string& directory) {
    const std::string path = directory + log_file_name;
    platform::rename_file(path, directory + previous_log_prefix + log_file_name);
    file_.open(path, true, true);
    // Opened without following a link; what was opened must also be a file of the user's
    // own, which another user cannot read along.
    const std::string problem = platform::own_file_problem(file_.handle());
    if (!problem.empty()) {
        throw intl_exception(path + ": " + problem);
    }
    // When the old log could not be moved away it is opened as it is; writing from its
    // start would leave the new run's lines mixed with the old run's tail.
    std::fseek(file_.handle(), 0, SEEK_END);
    logger_.emplace(file_.handle());
    add_logger(&*logger_);
}

log_file::~log_file() {
    if (logger_) {
        remove_logger(&*logger_);
    }
    // stdio_file's own destructor flushes and closes, logging a failure it meets.
}

}  // namespace orvel
