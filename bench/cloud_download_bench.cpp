// Download throughput of the two file paths of the cloud client, download_file (the HTTP
// client library) and http_download (the plain socket), beside the curl program fetching the
// same 256 MiB file from the same loopback server, over plain HTTP and over TLS.
//
// A shared machine is noisy: a build on the other core halves any one figure. So curl and
// the clients take turns within each round (the order rotating from round to round), each
// client is compared with the curl run of its own round, and the median of those ratios is
// printed with its spread.
//
// Usage: cloud_download_bench [rounds] [only], where only picks the runs whose name
// ("<path>/<plain|tls>") contains it, for a profiler.
#include <boost/process/child.hpp>
#include <boost/process/io.hpp>
#include <boost/process/search_path.hpp>

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/events.h"
#include "base/failures.h"
#include "cloud/http_download.h"
#include "cloud/http_transport.h"
#include "sim/test_http_server.h"
#include "support/scoped_env.h"
#include "support/temp_folder.h"
#include "support/test_certificate.h"

namespace {

using clock_type = std::chrono::steady_clock;

constexpr std::size_t file_size = 256u << 20;
constexpr std::size_t piece_size = 1u << 20;
constexpr int default_rounds = 7;

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

using download = std::function<void(const std::string&)>;

struct run_kind {
    std::string name;  // "<path>/<transport>"
    std::size_t curl;  // the index of the curl run it is compared with; itself for curl
    download fetch;
    std::vector<double> seconds;  // one a round
    std::vector<double> cpu;      // the downloading thread's (or curl's) processor seconds
    std::string failure;
};

// Processor seconds of this thread and of the waited-for children: a figure the other
// programs on the machine hardly move, unlike the time on the clock.
double processor_seconds() {
    timespec thread{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &thread);
    rusage children{};
    ::getrusage(RUSAGE_CHILDREN, &children);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return static_cast<double>(thread.tv_sec) + static_cast<double>(thread.tv_nsec) / 1e9 +
           seconds(children.ru_utime) + seconds(children.ru_stime);
}

// Seconds for one download into path. The file goes afterwards, and the system's dirty
// pages before the clock starts, so that one run's write-back does not fall on the next.
double timed(const download& fetch, const std::string& path, bool verify, double& cpu) {
    ::sync();
    const double cpu_start = processor_seconds();
    const auto start = clock_type::now();
    fetch(path);
    const double seconds = std::chrono::duration<double>(clock_type::now() - start).count();
    cpu = processor_seconds() - cpu_start;
    const bool good = !verify || same_as_source(path);
    std::remove(path.c_str());
    if (!good) {
        throw std::runtime_error("wrote a wrong file");
    }
    return seconds;
}

double megabytes_per_second(double seconds) {
    return static_cast<double>(file_size) / 1e6 / seconds;
}

// The value at fraction q (0..1) of the sorted values, between neighbours.
double quantile(std::vector<double> values, double q) {
    std::sort(values.begin(), values.end());
    const double at = q * static_cast<double>(values.size() - 1);
    const auto low = static_cast<std::size_t>(at);
    const std::size_t high = std::min(low + 1, values.size() - 1);
    return values[low] + (values[high] - values[low]) * (at - static_cast<double>(low));
}

void print(const std::vector<run_kind>& runs) {
    for (const run_kind& run : runs) {
        std::printf("  %-22s", run.name.c_str());
        if (!run.failure.empty()) {
            std::printf(" failed: %s\n", run.failure.c_str());
            continue;
        }
        if (run.seconds.empty()) {
            std::printf(" not run\n");
            continue;
        }
        std::vector<double> speeds;
        for (const double seconds : run.seconds) {
            speeds.push_back(megabytes_per_second(seconds));
        }
        std::printf(" %7.1f MB/s %5.2f s CPU", quantile(speeds, 0.5), quantile(run.cpu, 0.5));
        const run_kind& curl = runs[run.curl];
        if (run.curl == static_cast<std::size_t>(&run - runs.data()) ||
            curl.seconds.size() != run.seconds.size()) {
            std::printf("\n");
            continue;
        }
        std::vector<double> ratios;
        for (std::size_t round = 0; round < run.seconds.size(); ++round) {
            ratios.push_back(curl.seconds[round] / run.seconds[round]);
        }
        std::printf("   %.2f of curl (median of %zu rounds; %.2f-%.2f, middle half %.2f-%.2f)\n",
                    quantile(ratios, 0.5), ratios.size(), quantile(ratios, 0), quantile(ratios, 1),
                    quantile(ratios, 0.25), quantile(ratios, 0.75));
    }
}

int run(int rounds, const std::string& only) {
    const orvel::test::temp_folder folder("cloud-bench");
    const std::string source = folder / "source.bin";
    write_source(source);
    const std::string target = folder / "download.bin";
    const auto curl_program = boost::process::search_path("curl");
    if (curl_program.empty()) {
        std::fprintf(stderr, "curl not found\n");
        return 1;
    }

    // The clients trust the test authority the way they would trust another system store.
    const orvel::test::test_authority authority(folder.path(), "bench-authority");
    const orvel::test::scoped_env trust("SSL_CERT_FILE", authority.file());
    orvel::test::test_http_server plain;
    orvel::test::test_http_server secure(authority.issue("127.0.0.1"));
    orvel::event interrupt;

    std::vector<run_kind> runs;
    for (orvel::test::test_http_server* server : {&plain, &secure}) {
        server->serve_file("/files/package.bin", source);
        const std::string url = server->url("/files/package.bin");
        const std::string transport = server == &plain ? "plain" : "tls";
        const std::size_t curl = runs.size();
        const auto add = [&](const std::string& name, download fetch) {
            run_kind run;
            run.name = name + "/" + transport;
            run.curl = curl;
            run.fetch = std::move(fetch);
            runs.push_back(std::move(run));
        };
        add("curl -o", [=, &authority](const std::string& path) {
            boost::process::child program(curl_program, "-s", "-S", "--cacert", authority.file(),
                                          "-o", path, url,
                                          boost::process::std_out > boost::process::null);
            program.wait();
            if (program.exit_code() != 0) {
                throw std::runtime_error("curl failed");
            }
        });
        add("download_file", [=, &interrupt](const std::string& path) {
            orvel::download_file(url, path, 0, interrupt);
        });
        add("http_download", [=, &interrupt](const std::string& path) {
            orvel::http_download(url, path, interrupt);
        });
    }

    for (int round = 0; round < rounds; ++round) {
        for (std::size_t group = 0; group < runs.size(); group += 3) {
            for (std::size_t turn = 0; turn < 3; ++turn) {
                run_kind& run = runs[group + (turn + static_cast<std::size_t>(round)) % 3];
                if (!run.failure.empty() || run.name.find(only) == std::string::npos) {
                    continue;
                }
                try {
                    double cpu = 0;
                    run.seconds.push_back(timed(run.fetch, target, round == 0, cpu));
                    run.cpu.push_back(cpu);
                } catch (const std::exception& failure) {
                    run.failure = failure.what();
                    run.seconds.clear();
                } catch (const orvel::base_exception& failure) {
                    run.failure = failure.message().substr(0, 200);
                    run.seconds.clear();
                }
            }
        }
    }

    std::printf("256 MiB from a loopback server, %d rounds of curl and each client in turn:\n",
                rounds);
    print(runs);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = default_rounds;
    std::string only;
    for (int at = 1; at < argc; ++at) {
        const std::string argument = argv[at];
        if (!argument.empty() && argument.find_first_not_of("0123456789") == std::string::npos) {
            rounds = std::max(1, std::atoi(argument.c_str()));
        } else {
            only = argument;
        }
    }
    // Caught here so that the temporary folder and its large files go on every way out.
    try {
        return run(rounds, only);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "%s\n", failure.what());
        return 1;
    }
}
