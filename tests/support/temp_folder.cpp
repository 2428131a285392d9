#include "support/temp_folder.h"

#include <boost/filesystem.hpp>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace orvel::test {

namespace fs = boost::filesystem;

temp_folder::temp_folder(const std::string& label) {
    const fs::path folder = fs::temp_directory_path() / fs::unique_path(label + "-%%%%-%%%%-%%%%");
    fs::create_directories(folder);
    path_ = fs::canonical(folder).string() + "/";
}

temp_folder::~temp_folder() {
    boost::system::error_code ec;
    fs::remove_all(path_, ec);
}

void write_file(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace orvel::test
