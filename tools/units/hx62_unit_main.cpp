// orvelsync-unit-hx62: a simulated HX62 unit, which stands for any of the five HX62 models,
// with the storage block that the development cloud's HX62 courses are made for. In a units
// folder it keeps a copy of its flash, "HX62.flash", for the console to show.
#include <filesystem>
#include <fstream>

#include "devcloud/sample_layout.h"
#include "sim/hx62_unit.h"
#include "units/unit_program.h"

namespace {

namespace fs = std::filesystem;
namespace devcloud = orvel::devcloud;

// The sectors up to the last course record, written whole so that a reader never sees half.
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
    orvel::test::hx62_unit unit;
    unit.set_storage({{1, devcloud::hx62_first_sector * devcloud::hx62_sector_size,
                       devcloud::hx62_record_size * devcloud::hx62_record_count,
                       devcloud::hx62_record_size, devcloud::hx62_record_count}});
    // Copied again whenever commands came since.
    std::size_t copied = static_cast<std::size_t>(-1);
    fs::path flash;
    orvel::units::unit_program program;
    program.unit = "HX62";
    program.port_path = unit.port_path();
    program.tick = [&](const std::string& folder) {
        const std::size_t commands = unit.commands().size();
        if (!folder.empty() && commands != copied) {
            copied = commands;
            flash = fs::path(folder) / "HX62.flash";
            copy_flash(unit, flash);
        }
    };
    const int status = orvel::units::run_unit_program(argc, argv, program);
    if (!flash.empty()) {
        std::error_code ignored;
        fs::remove(flash, ignored);
    }
    return status;
}
