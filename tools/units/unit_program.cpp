#include "units/unit_program.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <iostream>

namespace orvel::units {

namespace {

namespace fs = std::filesystem;

// Often enough that the console shows a finished course at once.
constexpr auto tick_interval = std::chrono::milliseconds(100);

}  // namespace

int run_unit_program(int argc, char** argv, const unit_program& program) {
    std::string folder;
    if (argc == 3 && std::string(argv[1]) == "--folder") {
        folder = argv[2];
    } else if (argc != 1) {
        std::cerr << "Usage: " << argv[0] << " [--folder DIR]\n";
        return 2;
    }
    fs::path link;
    try {
        std::string device = program.port_path;
        if (!folder.empty()) {
            link = fs::path(folder) / (program.unit + ".port");
            fs::remove(link);
            fs::remove(link.string() + ".unplugged");
            fs::create_symlink(program.port_path, link);
            device = link.string();
        }
        std::cout << program.bridge << " (" << device << ")" << std::endl;

        boost::asio::io_context io;
        boost::asio::signal_set stop(io, SIGINT, SIGTERM);
        stop.async_wait([&io](const boost::system::error_code&, int) { io.stop(); });
        boost::asio::steady_timer timer(io);
        std::function<void()> tick = [&] {
            if (program.tick) {
                program.tick(folder);
            }
            timer.expires_after(tick_interval);
            timer.async_wait([&](const boost::system::error_code& error) {
                if (!error) {
                    tick();
                }
            });
        };
        tick();
        io.run();
    } catch (const std::exception& failure) {
        std::cerr << argv[0] << ": " << failure.what() << "\n";
        return 1;
    }
    if (!link.empty()) {
        std::error_code ignored;
        fs::remove(link, ignored);
        fs::remove(link.string() + ".unplugged", ignored);
    }
    return 0;
}

}  // namespace orvel::units
