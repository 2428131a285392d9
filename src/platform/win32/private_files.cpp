#include "platform/private_files.h"

#include <io.h>
#include <windows.h>

#include <cstdlib>

#include "platform/system_error.h"
#include "platform/win32/handles.h"

namespace orvel::platform {

namespace {

std::string without_separator(std::string path) {
    while (path.size() > 3 && (path.back() == '\\' || path.back() == '/')) {
        path.pop_back();
    }
    return path;
}

// A link of any kind (symbolic link, junction) carries the reparse point attribute.
std::string kind_problem(const std::string& path, DWORD attributes, bool folder) {
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return path + " is a symbolic link";
    }
    const bool is_folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (folder != is_folder) {
        return path + (folder ? " is not a folder" : " is not a regular file");
    }
    return {};
}

}  // namespace

std::string member_config_dir() {
    // The roaming application data of the user's profile, which only the user may open.
    const char* data = std::getenv("APPDATA");
    if (data == nullptr || data[0] == '\0') {
        return {};
    }
    return without_separator(data) + "\\orvelsync\\";
}

bool prepare_private_dir(const std::string& folder, bool with_parents, std::string& problem) {
    const std::string path = without_separator(folder);
    if (with_parents) {
        for (std::size_t at = path.find_first_of("\\/", 3); at != std::string::npos;
             at = path.find_first_of("\\/", at + 1)) {
            ::CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
        }
    }
    if (::CreateDirectoryA(path.c_str(), nullptr) != FALSE) {
        return true;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_ALREADY_EXISTS) {
        problem = "cannot create " + path + ": " + error_text(static_cast<int>(error));
        return false;
    }
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        problem = "cannot examine " + path + ": " + error_text(last_error());
        return false;
    }
    problem = kind_problem(path, attributes, true);
    return problem.empty();
}

std::string own_file_problem(const std::string& path, bool) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return "cannot examine " + path + ": " + error_text(last_error());
    }
    return kind_problem(path, attributes, false);
}

std::string own_file_problem(std::FILE* file) {
    const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file)));
    BY_HANDLE_FILE_INFORMATION information{};
    if (handle == INVALID_HANDLE_VALUE ||
        ::GetFileInformationByHandle(handle, &information) == FALSE) {
        return "cannot examine the open file: " + error_text(last_error());
    }
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        return "the file is not a regular file";
    }
    return kind_problem("the file", information.dwFileAttributes, false);
}

bool replace_file(const std::string& path, const std::string& content, bool, std::string& problem) {
    const std::string fresh = path + ".new";
    const auto fail = [&](const std::string& step, int error) {
        problem = "cannot " + step + " " + fresh + ": " + error_text(error);
        ::DeleteFileA(fresh.c_str());
        return false;
    };
    auto_handle out(::CreateFileA(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out.valid()) {
        return fail("create", last_error());
    }
    DWORD written = 0;
    const bool wrote = ::WriteFile(out.get(), content.data(), static_cast<DWORD>(content.size()),
                                   &written, nullptr) != FALSE &&
                       written == content.size() && ::FlushFileBuffers(out.get()) != FALSE;
    const int error = last_error();
    // Closed before it is removed or moved: neither works on a file open without sharing.
    out.reset();
    if (!wrote) {
        return fail("write", error);
    }
    if (::MoveFileExA(fresh.c_str(), path.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == FALSE) {
        return fail("rename", last_error());
    }
    return true;
}

}  // namespace orvel::platform
