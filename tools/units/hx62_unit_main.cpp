// orvelsync-unit-hx62: a simulated HX62 unit (any of the five HX62 models) on a
// pseudo-terminal, until SIGINT or SIGTERM. It prints the port entry for
// ORVELSYNC_SERIAL_PORTS. With --folder, the unit is reached through the link
// "<folder>/HX62.port", which the development cloud moves aside to unplug it, and keeps a
// copy of its flash in "<folder>/HX62.flash" for the console to show.
#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>

#include "devcloud/sample_layout.h"
#include "support/hx62_unit.h"

namespace {

namespace fs = std::filesystem;
namespace devcloud = orvel::devcloud;

const std::string unit_name = "HX62";
const std::string bridge = "Silicon Labs CP210x USB to UART Bridge";

// Often enough that the console shows a finished course at once.
constexpr auto flash_copy_interval = std::chrono::milliseconds(100);

void copy_flash(const orvel::test::hx62_unit& unit, const fs::path& path) {
    const std::uint32_t sectors =
        devcloud::hx62_first_sector + (devcloud::hx62_record_size * devcloud::hx62_record_count +
                                       devcloud::hx62_sector_size - 1) /
                                          devcloud::hx62_sector_size;
    const fs::path partial = path.string() + ".new";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        for (std::uint32_t sector = 0; sector < sectors; ++sector) {
            const orvel::byte_vector image = unit.sector(sector);
            out.write(reinterpret_cast<const char*>(image.data()),
                      static_cast<std::streamsize>(image.size()));
        }
    }
    fs::rename(partial, path);
}

}  // namespace

int main(int argc, char** argv) {
    std::string folder;
    if (argc == 3 && std::string(argv[1]) == "--folder") {
        folder = argv[2];
    } else if (argc != 1) {
        std::cerr << "Usage: orvelsync-unit-hx62 [--folder DIR]\n";
        return 2;
    }
    try {
        orvel::test::hx62_unit unit;
        unit.set_storage({{1, devcloud::hx62_first_sector * devcloud::hx62_sector_size,
                           devcloud::hx62_record_size * devcloud::hx62_record_count,
                           devcloud::hx62_record_size, devcloud::hx62_record_count}});
        fs::path link;
        fs::path flash;
        if (folder.empty()) {
            std::cout << unit.port_entry() << std::endl;
        } else {
            link = fs::path(folder) / (unit_name + ".port");
            flash = fs::path(folder) / (unit_name + ".flash");
            fs::remove(link);
            fs::remove(link.string() + ".unplugged");
            fs::create_symlink(unit.port_path(), link);
            copy_flash(unit, flash);
            std::cout << bridge << " (" << link.string() << ")" << std::endl;
        }

        boost::asio::io_context io;
        boost::asio::signal_set stop(io, SIGINT, SIGTERM);
        stop.async_wait([&io](const boost::system::error_code&, int) { io.stop(); });
        boost::asio::steady_timer timer(io);
        std::size_t copied = unit.commands().size();
        std::function<void()> watch = [&] {
            timer.expires_after(flash_copy_interval);
            timer.async_wait([&](const boost::system::error_code& error) {
                if (error) {
                    return;
                }
                const std::size_t now = unit.commands().size();
                if (now != copied && !flash.empty()) {
                    copied = now;
                    copy_flash(unit, flash);
                }
                watch();
            });
        };
        watch();
        io.run();

        if (!folder.empty()) {
            std::error_code ignored;
            fs::remove(link, ignored);
            fs::remove(link.string() + ".unplugged", ignored);
            fs::remove(flash, ignored);
        }
    } catch (const std::exception& failure) {
        std::cerr << "orvelsync-unit-hx62: " << failure.what() << "\n";
        return 1;
    }
    return 0;
}
