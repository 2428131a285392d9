// Download throughput of the two file paths of the cloud client, download_file (the HTTP
// client library) and http_download (the plain socket), beside the curl program fetching the
// same 256 MiB file from the same loopback server in the same run.
#include <boost/process/child.hpp>
#include <boost/process/io.hpp>
#include <boost/process/search_path.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/events.h"
#include "cloud/http_download.h"
#include "cloud/http_transport.h"
#include "support/temp_folder.h"
#include "support/test_http_server.h"

namespace {

using clock_type = std::chrono::steady_clock;

constexpr std::size_t file_size = 256u << 20;
constexpr std::size_t piece_size = 1u << 20;
constexpr int rounds = 5;

// Every piece differs, so a piece written twice or at the wrong place shows.
std::vector<char> piece_of(std::size_t index) {
    std::vector<char> piece(piece_size);
    std::uint32_t state = static_cast<std::uint32_t>(index) * 2654435761u + 1;
    for (char& c : piece) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 24);
    }
    return piece;
}

void write_source(const std::string& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (std::size_t index = 0; index < file_size / piece_size; ++index) {
        const std::vector<char> piece = piece_of(index);
        out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
    }
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

bool same_as_source(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> got(piece_size);
    for (std::size_t index = 0; index < file_size / piece_size; ++index) {
        in.read(got.data(), static_cast<std::streamsize>(got.size()));
        if (!in || got != piece_of(index)) {
            return false;
        }
    }
    return in.peek() == std::ifstream::traits_type::eof();
}

// Seconds for one download into path, which is removed afterwards; -1 when the file came
// out wrong.
double timed(const std::function<void(const std::string&)>& download, const std::string& path,
             bool verify) {
    const auto start = clock_type::now();
    download(path);
    const double seconds = std::chrono::duration<double>(clock_type::now() - start).count();
    const bool good = !verify || same_as_source(path);
    std::remove(path.c_str());
    return good ? seconds : -1;
}

double megabytes_per_second(double seconds) {
    return static_cast<double>(file_size) / 1e6 / seconds;
}

// only: a path's name, to run that path alone (for a profiler), or empty.
int run(const std::string& only) {
    const orvel::test::temp_folder folder("cloud-bench");
    const std::string source = folder / "source.bin";
    write_source(source);

    orvel::test::test_http_server server;
    server.serve_file("/files/package.bin", source);
    const std::string url = server.url("/files/package.bin");
    const std::string target = folder / "download.bin";
    const auto curl_program = boost::process::search_path("curl");
    if (curl_program.empty()) {
        std::fprintf(stderr, "curl not found\n");
        return 1;
    }

    orvel::event interrupt;
    const std::vector<std::pair<const char*, std::function<void(const std::string&)>>> paths = {
        {"curl -o",
         [&](const std::string& path) {
             boost::process::child curl(curl_program, "-s", "-S", "-o", path, url,
                                        boost::process::std_out > boost::process::null);
             curl.wait();
             if (curl.exit_code() != 0) {
                 throw std::runtime_error("curl failed");
             }
         }},
        {"download_file",
         [&](const std::string& path) { orvel::download_file(path, url, 0, interrupt); }},
        {"http_download",
         [&](const std::string& path) { orvel::http_download(url, path, interrupt); }},
    };

    // Best of several rounds, the three paths taking turns so that a busy moment of the
    // machine does not fall on one of them alone.
    std::vector<double> best(paths.size(), 0);
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t at = 0; at < paths.size(); ++at) {
            if (!only.empty() && only != paths[at].first) {
                continue;
            }
            const double seconds = timed(paths[at].second, target, round == 0);
            if (seconds < 0) {
                std::fprintf(stderr, "%s wrote a wrong file\n", paths[at].first);
                return 1;
            }
            best[at] = std::max(best[at], megabytes_per_second(seconds));
        }
    }

    std::printf("256 MiB from a loopback server, best of %d rounds:\n", rounds);
    for (std::size_t at = 0; at < paths.size(); ++at) {
        std::printf("  %-14s %8.1f MB/s", paths[at].first, best[at]);
        if (at > 0) {
            if (best[0] > 0) {
                std::printf("   %.2f of curl", best[at] / best[0]);
            }
        }
        std::printf("\n");
    }
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
    }
}
