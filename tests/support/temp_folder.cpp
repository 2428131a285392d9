#include "support/temp_folder.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace orvel::test {

namespace fs = std::filesystem;

namespace {

std::string random_part() {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    static const char digits[] = "0123456789abcdef";
    std::string part;
    for (int i = 0; i < 12; ++i) {
        part += digits[generator() % 16];
    }
    return part;
}

}  // namespace

temp_folder::temp_folder(const std::string& label) {
    fs::path folder;
    // create_directory is false for a name that is taken; another one is drawn.
    do {
        folder = fs::temp_directory_path() / (label + "-" + random_part());
    } while (!fs::create_directory(folder));
    path_ = fs::canonical(folder).string() + static_cast<char>(fs::path::preferred_separator);
}

temp_folder::~temp_folder() {
    std::error_code ec;
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
