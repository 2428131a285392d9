// A package's tar archive on a memory stream, unpacked into a folder three levels down in a
// scratch tree of this process. The archive unpacks or fails as an internal failure; either
// way nothing is written beside the folder, and what it unpacked is no larger than the archive.
#include <boost/filesystem.hpp>

#include <cstdint>
#include <string>

#include "base/events.h"
#include "base/failures.h"
#include "devices/usbdisk/tar_reader.h"
#include "fuzz/fuzz_check.h"
#include "platform/memory_stream.h"

namespace fs = boost::filesystem;

namespace {

// In memory where there is such a file system: on a disk, making and removing the folders
// takes most of every run. Removed when the run ends.
fs::path scratch_base() {
    boost::system::error_code error;
    return fs::is_directory("/dev/shm", error) ? fs::path("/dev/shm") : fs::temp_directory_path();
}

struct scratch_tree {
    const fs::path root = scratch_base() / fs::unique_path("fuzz_tar_%%%%%%%%");
    ~scratch_tree() { fs::remove_all(root); }
};

const fs::path& scratch() {
    static const scratch_tree tree;
    return tree.root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path folder = scratch() / "a" / "b" / "out";
    fs::remove_all(scratch());
    fs::create_directories(folder);
    orvel::memory_stream stream(static_cast<std::uint32_t>(size + 1));
    stream.write(data, static_cast<std::uint32_t>(size));
    orvel::empty_event never;
    try {
        orvel::tar::read_archive(stream, folder.string() + "/", never);
    } catch (const orvel::intl_exception&) {
    }
    std::uintmax_t unpacked = 0;
    for (fs::recursive_directory_iterator at(scratch()), end; at != end; ++at) {
        const fs::path& path = at->path();
        const std::string text = path.string();
        const bool inside = text.rfind(folder.string() + "/", 0) == 0;
        FUZZ_CHECK(inside || path == folder || path == folder.parent_path() ||
                   path == folder.parent_path().parent_path());
        if (fs::is_regular_file(path)) {
            unpacked += fs::file_size(path);
        }
    }
    FUZZ_CHECK(unpacked <= size);
    return 0;
}
