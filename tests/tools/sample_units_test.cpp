// The simulated units' folder: what plugging and unplugging change, and what the console is
// told a unit holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "devcloud/model_catalogue.h"
#include "devcloud/sample_courses.h"
#include "devcloud/sample_layout.h"
#include "devcloud/sample_units.h"
#include "support/temp_folder.h"

namespace orvel {
namespace {

namespace fs = std::filesystem;

const Json::Value& unit(const Json::Value& units, const std::string& name) {
    for (const Json::Value& u : units) {
        if (u["name"].asString() == name) {
            return u;
        }
    }
    static const Json::Value none;
    return none;
}

TEST(SampleUnits, OneVolumeAMarkerIsPluggedAndPluggingAnotherTakesItsPlace) {
    test::temp_folder folder("units");
    devcloud::sample_units units(folder / "units");
    // ZelPlus, JTCPlus and JTC share their marker; the agent would take the first of them.
    EXPECT_TRUE(fs::exists(folder / "units/ZelPlus/SYSREG.SMI"));
    EXPECT_FALSE(fs::exists(folder / "units/JTCPlus/SYSREG.SMI"));
    EXPECT_FALSE(fs::exists(folder / "units/JTC/SYSREG.SMI"));
    EXPECT_TRUE(fs::exists(folder / "units/Nebro/nebro.setup"));
    EXPECT_EQ(test::read_file(folder / "units/Uzo/uzo.setup"), "B");
    const auto volume_models =
        std::count_if(model_rows().begin(), model_rows().end(),
                      [](const model_row& row) { return is_volume(row.family); });
    EXPECT_EQ(units.volume_paths().size(), static_cast<std::size_t>(volume_models));

    ASSERT_TRUE(units.set_plugged("JTC", true));
    EXPECT_FALSE(fs::exists(folder / "units/ZelPlus/SYSREG.SMI"));
    EXPECT_TRUE(fs::exists(folder / "units/JTC/SYSREG.SMI"));
    ASSERT_TRUE(units.set_plugged("Uzo", false));
    EXPECT_FALSE(fs::exists(folder / "units/Uzo/uzo.setup"));
    ASSERT_TRUE(units.set_plugged("Uzo", true));
    EXPECT_EQ(test::read_file(folder / "units/Uzo/uzo.setup"), "B") << "its set-up type is back";
    EXPECT_FALSE(unit(units.describe(), "ZelPlus")["plugged"].asBool());
    EXPECT_TRUE(unit(units.describe(), "JTC")["plugged"].asBool());
    EXPECT_FALSE(units.set_plugged("NoSuchUnit", true));

    // A unit keeps what it holds over an unplug; a new folder object does not wipe it.
    test::write_file(folder / "units/JTC/KVINC000.GLF", "kept");
    devcloud::sample_units again(folder / "units");
    EXPECT_EQ(test::read_file(folder / "units/JTC/KVINC000.GLF"), "kept");
}

TEST(SampleUnits, SerialUnitIsUnpluggedByMovingItsLinkAside) {
    test::temp_folder folder("units");
    devcloud::sample_units units(folder / "units");
    fs::create_symlink("/dev/null", folder / "units/HX62.port");
    EXPECT_TRUE(unit(units.describe(), "HX62")["plugged"].asBool());
    EXPECT_EQ(unit(units.describe(), "HX62")["models"].size(), 5u);
    ASSERT_TRUE(units.set_plugged("HX62", false));
    EXPECT_FALSE(fs::exists(folder / "units/HX62.port"));
    EXPECT_FALSE(unit(units.describe(), "HX62")["plugged"].asBool());
    ASSERT_TRUE(units.set_plugged("HX62", true));
    EXPECT_EQ(fs::read_symlink(folder / "units/HX62.port"), "/dev/null");
}

TEST(SampleUnits, SerialUnitsOfOneBridgeAreNotPluggedInTogether) {
    // The four Prolific units: the agent would take the first it lists for any of them.
    test::temp_folder folder("units");
    devcloud::sample_units units(folder / "units");
    fs::create_symlink("/dev/null", folder / "units/HX62.port");
    fs::create_symlink("/dev/null", folder / "units/JT.port");
    EXPECT_FALSE(devcloud::sample_units::bridge_taken(folder / "units", "JT"));
    EXPECT_TRUE(devcloud::sample_units::bridge_taken(folder / "units", "Zel"));
    EXPECT_FALSE(devcloud::sample_units::bridge_taken(folder / "units", "HX62"));
    fs::create_symlink("/dev/null", folder / "units/Zel.port.unplugged");

    ASSERT_TRUE(units.set_plugged("Zel", true));
    EXPECT_TRUE(fs::is_symlink(folder / "units/Zel.port"));
    EXPECT_TRUE(fs::is_symlink(folder / "units/JT.port.unplugged"));
    EXPECT_FALSE(fs::exists(folder / "units/JT.port"));
    EXPECT_TRUE(fs::is_symlink(folder / "units/HX62.port")) << "another bridge stays";
}

TEST(SampleUnits, ContentsNameTheCoursesInTheirSlots) {
    test::temp_folder folder("units");
    devcloud::sample_units units(folder / "units");
    const auto zel_plus = devcloud::sample_courses(*devcloud::find_model("ZelPlus"));
    std::string file = test::read_file(folder / "units/ZelPlus/EMBEDD01.GLF");
    file.replace(4 * devcloud::glf_course_size, devcloud::glf_course_size, zel_plus[2].glf);
    file.replace(6 * devcloud::glf_course_size, 3, "odd");
    test::write_file(folder / "units/ZelPlus/EMBEDD01.GLF", file);

    // HX62 records sit from sector 77 in the simulator's copy of its flash.
    const auto quillan = devcloud::sample_courses(*devcloud::find_model("HXQuillan"));
    std::string flash(90 * devcloud::hx62_sector_size, '\xFF');
    flash.replace(
        devcloud::hx62_first_sector * devcloud::hx62_sector_size + devcloud::hx62_record_size,
        devcloud::hx62_record_size, quillan[0].glf);
    test::write_file(folder / "units/HX62.flash", flash);
    fs::create_symlink("/dev/null", folder / "units/HX62.port");

    const Json::Value all = units.describe();
    const Json::Value& courses = unit(all, "ZelPlus")["courses"];
    ASSERT_EQ(courses.size(), 2u);
    EXPECT_EQ(courses[0]["slot"].asInt(), 5);
    EXPECT_EQ(courses[0]["course"].asString(), zel_plus[2].name);
    EXPECT_EQ(courses[1]["slot"].asInt(), 7);
    EXPECT_EQ(courses[1]["course"].asString(), "other course data");
    const Json::Value& flash_courses = unit(all, "HX62")["courses"];
    ASSERT_EQ(flash_courses.size(), 1u);
    EXPECT_EQ(flash_courses[0]["slot"].asInt(), 2);
    EXPECT_EQ(flash_courses[0]["course"].asString(), quillan[0].name + " (HXQuillan)");
    EXPECT_TRUE(unit(all, "Nebro")["courses"].empty()) << "a new unit's library is blank";
}

}  // namespace
}  // namespace orvel
