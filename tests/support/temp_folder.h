// A fresh folder of its own for one test, removed with everything in it afterwards.
#pragma once

#include <string>

namespace orvel::test {

class temp_folder {
public:
    explicit temp_folder(const std::string& label = "orvel");
    ~temp_folder();
    temp_folder(const temp_folder&) = delete;
    temp_folder& operator=(const temp_folder&) = delete;

    // The folder, ending with "/".
    const std::string& path() const { return path_; }
    // path() + name.
    std::string operator/(const std::string& name) const { return path_ + name; }

private:
    std::string path_;
};

// Writes a file whole (creating or replacing it); reads one whole ("" when missing).
void write_file(const std::string& path, const std::string& content);
std::string read_file(const std::string& path);

}  // namespace orvel::test
