// Folder, copy, rename and remove operations. Each logs its own failure and answers with
// its result; none throws.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace orvel::platform {

// What the system writes between folders: "/", or "\\" on Windows (which takes "/" too).
char path_separator();
// Creates every folder along an absolute path; the last component only when the path ends
// with a separator. An empty or relative path is false. On Windows every "/" on the way
// becomes "\\".
bool create_dirs(std::string& path);
// Bytes free for the caller; all ones (and logged) on failure.
std::uint64_t get_free_space(const std::string& directory);
// Ends with the separator: the agent's private folder, which holds the log with the
// member's credentials. $TMPDIR when it is the user's own and no one else may write to it,
// else a folder of the user's own inside it (orvelsync-<uid>/); without $TMPDIR,
// $XDG_RUNTIME_DIR/orvelsync/, else /tmp/orvelsync-<uid>/. On Windows the user's own
// temporary folder (GetTempPath, which honours TMP and TEMP), empty when it cannot be read.
std::string temp_dir();
// Creates the agent's own folder (mode 0700) when it is missing and refuses one that is a
// link, not a folder or not the user's own, putting the reason in `problem`. On Windows the
// folder must exist and be a folder, not a link.
bool prepare_temp_dir(std::string& problem);
std::string temp_file_path(const std::string& name);
// The top-level regular files of a folder into another one, created when missing.
bool copy_folder_files(const std::string& source, const std::string& destination);
// The folder and everything below it into the destination folder, under the folder's own
// name: files already there are replaced, others are kept. Links and special files are
// left out.
bool copy_folder(const std::string& source, const std::string& destination);
// The bytes of a regular file into a new file, which must not exist yet, without waiting
// for the disk: a run of many files would pay for each wait. 0 or the system's error number.
int copy_into_new_file(const std::string& source, const std::string& destination);
// True without copying when either path is empty or the source is missing or a folder.
bool copy_file(const std::string& source, const std::string& destination);
bool rename_file(const std::string& source, const std::string& destination);
// True without action when the path is empty, missing or a folder.
bool remove(const std::string& path);
bool remove_all(const std::string& path);
// Calls back with path + name + the separator for every subfolder; the path must end with
// a separator.
void enum_subdirs(const std::function<void(const std::string&)>& callback,
                  const std::string& directory);
// Logs the processes that hold the file open.
void report_file_holders(const std::string& path);

}  // namespace orvel::platform
