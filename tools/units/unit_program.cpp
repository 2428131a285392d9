#include "units/unit_program.h"

#include <json/value.h>
#include <json/writer.h>
#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>

#include "devcloud/model_catalogue.h"
#include "devcloud/sample_units.h"

namespace orvel::units {

namespace {

namespace fs = std::filesystem;
namespace devcloud = orvel::devcloud;

// Often enough that the console shows a finished course at once.
constexpr auto tick_interval = std::chrono::milliseconds(100);

std::string holds_text(const std::vector<held_course>& courses) {
    Json::Value list(Json::arrayValue);
    for (const held_course& held : courses) {
        Json::Value entry(Json::objectValue);
        entry["where"] = held.where;
        entry["slot"] = held.slot;
        entry["course"] = held.course;
        list.append(entry);
    }
    return Json::writeString(Json::StreamWriterBuilder(), list);
}

// Written whole and renamed, so that the development cloud never reads half of it.
void write_file(const fs::path& path, const std::string& text) {
    const fs::path partial = path.string() + ".new";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out << text;
    }
    fs::rename(partial, path);
}

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
    fs::path holds;
    try {
        const std::string bridge = devcloud::unit_bridge(program.unit);
        if (bridge.empty()) {
            throw std::invalid_argument("no serial unit " + program.unit + " in the catalogue");
        }
        std::string device = program.port_path;
        if (!folder.empty()) {
            link = devcloud::sample_units::port_link(folder, program.unit);
            const fs::path aside = devcloud::sample_units::unplugged_link(folder, program.unit);
            fs::remove(link);
            fs::remove(aside);
            const bool plugged = !devcloud::sample_units::bridge_taken(folder, program.unit);
            fs::create_symlink(program.port_path, plugged ? link : aside);
            device = link.string();
            if (program.holds) {
                holds = devcloud::sample_units::holds_file(folder, program.unit);
            }
        }
        std::cout << bridge << " (" << device << ")" << std::endl;

        boost::asio::io_context io;
        boost::asio::signal_set stop(io, SIGINT, SIGTERM);
        stop.async_wait([&io](const boost::system::error_code&, int) { io.stop(); });
        boost::asio::steady_timer timer(io);
        std::string written;
        std::function<void()> tick = [&] {
            if (program.tick) {
                program.tick(folder);
            }
            if (!holds.empty()) {
                const std::string text = holds_text(program.holds());
                if (text != written) {
                    write_file(holds, text);
                    written = text;
                }
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
        fs::remove(devcloud::sample_units::unplugged_link(folder, program.unit), ignored);
    }
    if (!holds.empty()) {
        std::error_code ignored;
        fs::remove(holds, ignored);
    }
    return 0;
}

}  // namespace orvel::units
