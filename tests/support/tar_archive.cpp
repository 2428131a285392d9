#include "support/tar_archive.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "support/temp_folder.h"

namespace orvel::test {

namespace {

std::string quoted(const std::string& text) {
    return "'" + text + "'";
}

}  // namespace

bool make_archive(const std::string& maker, const std::string& format, const std::string& parent,
                  const std::string& archive) {
    std::string command;
    const temp_folder scripts("tar-script");
    if (maker == "gnu-tar") {
        command =
            "tar --format=" + format + " -cf " + quoted(archive) + " -C " + quoted(parent) + " pkg";
    } else {
        const std::string script =
            "import sys, tarfile\n"
            "formats = {'gnu': tarfile.GNU_FORMAT, 'ustar': tarfile.USTAR_FORMAT,"
            " 'pax': tarfile.PAX_FORMAT}\n"
            "with tarfile.open(sys.argv[2], 'w', format=formats[sys.argv[1]]) as archive:\n"
            "    archive.add(sys.argv[3] + '/pkg', arcname='pkg')\n";
        write_file(scripts / "make.py", script);
        command = "python3 " + quoted(scripts / "make.py") + " " + format + " " + quoted(archive) +
                  " " + quoted(parent);
    }
    return std::system(command.c_str()) == 0;
}

std::vector<std::pair<std::string, std::string>> files_below(const std::string& folder) {
    namespace fs = std::filesystem;
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            files.emplace_back(fs::relative(entry.path(), folder).string(),
                               read_file(entry.path().string()));
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace orvel::test
