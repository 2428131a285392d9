// Folders and files of the user's own: where the agent keeps what holds the member's
// credentials (its log) and the key of its certificate. Each answers the reason it refuses.
#pragma once

#include <cstdio>
#include <string>

namespace orvel::platform {

// The agent's folder among the member's own settings, ending with the separator:
// $XDG_CONFIG_HOME/orvelsync/ (when it is an absolute path), else ~/.config/orvelsync/; on
// Windows %APPDATA%\orvelsync\. Empty when the user has no home folder.
std::string member_config_dir();
// Makes the folder when it is missing (and the missing folders above it, when asked), and
// refuses one that is a link, not a folder or another user's, putting the reason in
// `problem`. One that others may enter is made the user's alone (0700). On Windows, where
// the user's profile keeps other users out, it must be a folder and not a link.
bool prepare_private_dir(const std::string& folder, bool with_parents, std::string& problem);
// "" when the path is a regular file of the user's own and not a link; else why it is not.
// A secret file that others may read is made the user's alone (0600).
std::string own_file_problem(const std::string& path, bool secret);
// The same for an open file: what was opened, whatever stands at its name meanwhile.
std::string own_file_problem(std::FILE* file);
// Writes the whole file through a new one beside it and a rename, so that no reader sees
// half of it; a secret one is the user's alone from its creation. False with the reason.
bool replace_file(const std::string& path, const std::string& content, bool secret,
                  std::string& problem);

}  // namespace orvel::platform
