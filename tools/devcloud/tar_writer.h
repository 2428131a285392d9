// Tar archives as the service packs a model's course library: POSIX ustar headers, regular
// files only, two zero blocks at the end.
#pragma once

#include <string>

namespace orvel::devcloud {

class tar_writer {
public:
    // Names longer than 100 bytes are not needed by the packages and are refused.
    void add_file(const std::string& name, const std::string& content);
    // The archive so far with its end.
    std::string finish() const;

private:
    std::string bytes_;
};

}  // namespace orvel::devcloud
