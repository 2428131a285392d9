// Installing a tar-package unit's 200 MiB package of 2,000 files onto a folder: our unpack
// (reader, work folder, copies onto the unit) beside GNU tar extracting the same archive
// into a work folder and cp -r copying it there, in the same run; and the whole
// install_package with its download from a loopback server.
#include <boost/process/child.hpp>
#include <boost/process/io.hpp>
#include <boost/process/search_path.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/events.h"
#include "base/failures.h"
#include "devices/usbdisk/tar_package_models.h"
#include "devices/usbdisk/tar_reader.h"
#include "platform/file_stream.h"
#include "platform/memory_stream.h"
#include "sim/test_http_server.h"
#include "support/scoped_env.h"
#include "support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using clock_type = std::chrono::steady_clock;

constexpr std::size_t package_size = 200u << 20;
constexpr std::size_t folders = 20;
constexpr std::size_t files_per_folder = 100;
constexpr std::size_t file_count = folders * files_per_folder;
constexpr int rounds = 5;

std::string file_name(std::size_t n) {
    char name[32];
    std::snprintf(name, sizeof name, "d%02zu/f%03zu.bin", n / files_per_folder,
                  n % files_per_folder);
    return name;
}

// Sizes that differ a little from file to file; the first one makes up the package size.
std::size_t file_size(std::size_t n) {
    const std::size_t base = package_size / file_count;
    if (n > 0) {
        return base + n % 7 - 3;
    }
    std::size_t others = 0;
    for (std::size_t m = 1; m < file_count; ++m) {
        others += file_size(m);
    }
    return package_size - others;
}

std::string content(std::size_t n) {
    std::string bytes(file_size(n), '\0');
    std::uint32_t state = static_cast<std::uint32_t>(n) * 2654435761u + 1;
    for (char& c : bytes) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 24);
    }
    return bytes;
}

void write_whole(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string read_whole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool holds_package(const std::string& folder) {
    for (std::size_t n = 0; n < file_count; ++n) {
        if (read_whole(folder + file_name(n)) != content(n)) {
            std::fprintf(stderr, "%s%s differs\n", folder.c_str(), file_name(n).c_str());
            return false;
        }
    }
    return true;
}

void run_program(const std::string& name, const std::vector<std::string>& arguments) {
    const auto program = boost::process::search_path(name);
    if (program.empty()) {
        throw std::runtime_error(name + " not found");
    }
    boost::process::child child(program, arguments);
    child.wait();
    if (child.exit_code() != 0) {
        throw std::runtime_error(name + " failed");
    }
}

// Seconds for one install into the empty destination; the destination is checked after
// the first round and emptied after every round.
double timed(const std::function<void(const std::string&)>& install, const std::string& unit,
             bool verify) {
    fs::create_directories(unit);
    // The previous round's writes go to the disk first, so that no way pays for another's.
    run_program("sync", {});
    const auto start = clock_type::now();
    install(unit);
    const double seconds = std::chrono::duration<double>(clock_type::now() - start).count();
    const bool good = !verify || holds_package(unit);
    fs::remove_all(unit);
    return good ? seconds : -1;
}

// only: a way's name, to run that way alone (for a profiler), or empty.
int run(const std::string& only) {
    const orvel::test::temp_folder folder("tar-bench");
    const std::string temp = folder / "tmp/";
    fs::create_directories(temp);
    // The work folder and the download go below TMPDIR, on the same disk as the rest.
    const orvel::test::scoped_env tmpdir("TMPDIR", temp);

    for (std::size_t n = 0; n < file_count; ++n) {
        fs::create_directories(fs::path(folder / "source/pkg/" + file_name(n)).parent_path());
        write_whole(folder / "source/pkg/" + file_name(n), content(n));
    }
    const std::string archive = folder / "package.tar";
    run_program("tar", {"--format=gnu", "-cf", archive, "-C", folder / "source", "pkg"});

    orvel::test::test_http_server cloud;
    cloud.add_user("member", "secret");
    cloud.serve_file("/files/nebro.tar", archive);
    cloud.reply_rest("DeviceFullDataConfirm",
                     orvel::test::http_reply::json(R"({"Status":1,"ErrorMessage":""})"));
    orvel::connection_settings settings;
    settings.server = cloud.host();
    settings.userKey = "member";
    settings.userSecret = "secret";
    orvel::empty_event never;

    const std::string work = temp + "gnu-work";
    const std::vector<std::pair<const char*, std::function<void(const std::string&)>>> ways = {
        {"tar -x, cp -r",
         [&](const std::string& unit) {
             fs::create_directories(work);
             run_program("tar", {"-xf", archive, "-C", work});
             run_program("cp", {"-r", work + "/pkg/.", unit});
             run_program("rm", {"-rf", work});
         }},
        {"tar::unpack",
         [&](const std::string& unit) {
             orvel::file_stream stream(archive, 0);
             orvel::tar::unpack(stream, unit, never);
         }},
        {"install_package",
         [&](const std::string& unit) {
             orvel::nebro_connection connection(orvel::row_of("Nebro"), settings, never);
             orvel::memory_stream answer;
             orvel::request_context request{answer, connection.settings()};
             connection.install_package(request, unit, cloud.url("/files/nebro.tar"), 1);
         }},
    };

    // Best of several rounds, the ways taking turns so that a busy moment of the machine
    // does not fall on one of them alone.
    std::vector<double> best(ways.size(), 0);
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t at = 0; at < ways.size(); ++at) {
            if (!only.empty() && only != ways[at].first) {
                continue;
            }
            const double seconds = timed(ways[at].second, folder / "unit/", round == 0);
            if (seconds < 0) {
                std::fprintf(stderr, "%s left a wrong tree\n", ways[at].first);
                return 1;
            }
            best[at] = std::max(best[at], static_cast<double>(package_size) / 1e6 / seconds);
        }
    }

    std::printf("%zu files, %.1f MiB, GNU-format archive, best of %d rounds:\n", file_count,
                static_cast<double>(package_size) / (1 << 20), rounds);
    for (std::size_t at = 0; at < ways.size(); ++at) {
        std::printf("  %-16s %8.1f MB/s", ways[at].first, best[at]);
        if (at > 0 && best[0] > 0) {
            std::printf("   %.2f of GNU tar plus cp", best[at] / best[0]);
        }
        std::printf("\n");
    }
    std::printf(
        "  (install_package adds the download from a loopback server and the "
        "confirmation)\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Caught here so that the temporary folder and its large files go on every way out.
    try {
        return run(argc > 1 ? argv[1] : "");
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "%s\n", failure.what());
        return 1;
    } catch (const orvel::base_exception& failure) {
        std::fprintf(stderr, "%s\n", failure.message().c_str());
        return 1;
    }
}
