// orvelsync-devcloud: the development cloud on 127.0.0.1, until SIGINT or SIGTERM.
#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <string>

#include "cloud/rest_request.h"
#include "devcloud/devcloud.h"

namespace {

const char* const usage =
    "Usage: orvelsync-devcloud [--port N] [--units DIR] [--uploads DIR] [--console DIR]\n"
    "The development cloud of Orvel Sync on 127.0.0.1: answers the agent's signed REST\n"
    "actions for made-up members, serves course files and packages, keeps log uploads,\n"
    "and serves the console page, which plugs and unplugs the simulated units in DIR.\n"
    "  --port N       port to serve on (default: one the system picks)\n"
    "  --units DIR    folder of the simulated units (volume folders are made there)\n"
    "  --uploads DIR  folder for the agent's log uploads\n"
    "  --console DIR  folder of the console page (default: the sources' tools/console)\n";

bool take(int argc, char** argv, int& at, const std::string& name, std::string& value) {
    if (argv[at] != name || at + 1 >= argc) {
        return false;
    }
    value = argv[++at];
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    namespace devcloud = orvel::devcloud;
    devcloud::devcloud_options options;
    options.console_folder = ORVEL_CONSOLE_DIR;
    std::string port;
    for (int at = 1; at < argc; ++at) {
        if (take(argc, argv, at, "--port", port) ||
            take(argc, argv, at, "--units", options.units_folder) ||
            take(argc, argv, at, "--uploads", options.uploads_folder) ||
            take(argc, argv, at, "--console", options.console_folder)) {
            continue;
        }
        std::cerr << usage;
        return std::string(argv[at]) == "--help" ? 0 : 2;
    }
    if (!port.empty()) {
        char* end = nullptr;
        const unsigned long number = std::strtoul(port.c_str(), &end, 10);
        if (*end != '\0' || number > 65535) {
            std::cerr << "orvelsync-devcloud: no port " << port << "\n";
            return 2;
        }
        options.port = static_cast<std::uint16_t>(number);
    }
    std::mutex output;
    options.log = [&output](const std::string& line) {
        std::lock_guard<std::mutex> lock(output);
        std::cout << line << std::endl;
    };
    try {
        devcloud::devcloud cloud(options);
        {
            std::lock_guard<std::mutex> lock(output);
            std::cout << "Development cloud: " << cloud.base_url() << "/\n"
                      << "Application key: " << orvel::application_key << " (built in)\n";
            for (const devcloud::member& m : devcloud::sample_members()) {
                std::cout << "Member " << m.name << ": userKey " << m.user_key << ", userSecret "
                          << m.user_secret << ", products " << m.products.front().id << "-"
                          << m.products.back().id
                          << " (one of each model, serial numbers ORV-<id>)\n";
            }
            if (cloud.units() != nullptr) {
                std::string list;
                for (const std::string& path : cloud.units()->volume_paths()) {
                    list += (list.empty() ? "" : ":") + path;
                }
                std::cout << "Volumes: " << list << "\n";
            }
            std::cout << std::flush;
        }
        boost::asio::io_context io;
        boost::asio::signal_set stop(io, SIGINT, SIGTERM);
        stop.async_wait([](const boost::system::error_code&, int) {});
        io.run();
    } catch (const std::exception& failure) {
        std::cerr << "orvelsync-devcloud: " << failure.what() << "\n";
        return 1;
    }
    return 0;
}
