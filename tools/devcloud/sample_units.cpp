#include "devcloud/sample_units.h"

#include <json/reader.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "devcloud/model_catalogue.h"
#include "devcloud/sample_courses.h"
#include "devcloud/sample_files.h"
#include "devcloud/sample_layout.h"

namespace orvel::devcloud {

namespace fs = std::filesystem;

namespace {

const std::string port_suffix = ".port";
const std::string aside_suffix = ".unplugged";

void write_file(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

bool blank(const std::string& bytes, char fill) {
    return std::all_of(bytes.begin(), bytes.end(), [fill](char c) { return c == fill; });
}

// The courses in a file of equal slots, by slot number from 1; blank slots are left out.
void describe_slots(const std::string& data, std::size_t slot_size, std::size_t first_slot,
                    const std::vector<std::pair<std::string, std::vector<sample_course>>>& sources,
                    char blank_fill, Json::Value& courses, const std::string& where) {
    for (std::size_t at = 0; at + slot_size <= data.size(); at += slot_size) {
        const std::string slot = data.substr(at, slot_size);
        if (blank(slot, blank_fill)) {
            continue;
        }
        std::string name = "other course data";
        for (const auto& [label, known] : sources) {
            if (const sample_course* course = identify_course(known, slot)) {
                name = course->name + label;
                break;
            }
        }
        Json::Value entry(Json::objectValue);
        entry["where"] = where;
        entry["slot"] = static_cast<Json::UInt64>(first_slot + at / slot_size);
        entry["course"] = name;
        courses.append(entry);
    }
}

// The serial units whose links lie in the folder, plugged or not.
std::vector<std::string> serial_units_in(const std::string& folder) {
    std::set<std::string> units;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.size() > aside_suffix.size() &&
            name.compare(name.size() - aside_suffix.size(), aside_suffix.size(), aside_suffix) ==
                0) {
            name.erase(name.size() - aside_suffix.size());
        }
        if (name.size() > port_suffix.size() &&
            name.compare(name.size() - port_suffix.size(), port_suffix.size(), port_suffix) == 0) {
            units.insert(name.substr(0, name.size() - port_suffix.size()));
        }
    }
    return std::vector<std::string>(units.begin(), units.end());
}

const model_info* volume_model(const std::string& unit) {
    const model_info* model = find_model(unit);
    return model != nullptr && is_volume(model->family) ? model : nullptr;
}

}  // namespace

sample_units::sample_units(std::string folder) : folder_(std::move(folder)) {
    if (folder_.empty() || folder_.back() != '/') {
        folder_ += '/';
    }
    fs::create_directories(folder_);
    std::set<std::string> plugged_markers;
    for (const model_info& model : models()) {
        if (!is_volume(model.family)) {
            continue;
        }
        const fs::path root = folder_ + model.name;
        if (!fs::exists(root)) {
            fs::create_directories(root);
            for (const auto& [name, content] : volume_files(model, false)) {
                write_file(root / name, content);
            }
        }
        if (plugged_markers.insert(model.marker).second) {
            write_file(root / model.marker, model.marker_content);
        } else {
            fs::remove(root / model.marker);
        }
    }
}

std::vector<std::string> sample_units::volume_paths() const {
    std::vector<std::string> paths;
    for (const model_info& model : models()) {
        if (is_volume(model.family)) {
            paths.push_back(folder_ + model.name + "/");
        }
    }
    return paths;
}

std::vector<std::string> sample_units::serial_units() const {
    return serial_units_in(folder_);
}

std::string sample_units::port_link(const std::string& folder, const std::string& unit) {
    return (fs::path(folder) / (unit + port_suffix)).string();
}

std::string sample_units::unplugged_link(const std::string& folder, const std::string& unit) {
    return port_link(folder, unit) + aside_suffix;
}

std::string sample_units::holds_file(const std::string& folder, const std::string& unit) {
    return (fs::path(folder) / (unit + ".holds")).string();
}

bool sample_units::bridge_taken(const std::string& folder, const std::string& unit) {
    const std::string bridge = unit_bridge(unit);
    for (const std::string& other : serial_units_in(folder)) {
        if (other != unit && unit_bridge(other) == bridge &&
            fs::is_symlink(port_link(folder, other))) {
            return true;
        }
    }
    return false;
}

Json::Value sample_units::describe() const {
    std::lock_guard<std::mutex> lock(mutex_);
    // The few serial units first, then the volumes in the order of the model table.
    Json::Value units(Json::arrayValue);
    for (const std::string& unit : serial_units()) {
        units.append(describe_serial(unit));
    }
    for (const model_info& model : models()) {
        if (is_volume(model.family)) {
            units.append(describe_volume(model.name));
        }
    }
    return units;
}

Json::Value sample_units::describe_volume(const std::string& unit) const {
    const model_info& model = *volume_model(unit);
    const fs::path root = folder_ + unit;
    Json::Value view(Json::objectValue);
    view["name"] = unit;
    view["kind"] = "volume";
    view["models"].append(unit);
    view["plugged"] = fs::exists(root / model.marker);
    view["location"] = root.string() + "/";
    view["files"] = Json::Value(Json::arrayValue);
    view["courses"] = Json::Value(Json::arrayValue);
    std::vector<std::string> files;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_regular_file()) {
            files.push_back(fs::relative(it->path(), root).string());
        }
    }
    std::sort(files.begin(), files.end());
    const std::vector<std::pair<std::string, std::vector<sample_course>>> known = {
        {"", sample_courses(model)}};
    for (const std::string& name : files) {
        Json::Value file(Json::objectValue);
        file["path"] = name;
        file["size"] = static_cast<Json::UInt64>(fs::file_size(root / name, ec));
        view["files"].append(file);
        const bool course_data = name == "EMBEDD01.GLF" || name == "crs/d00" ||
                                 name == "cstm/000" ||
                                 (name.rfind("KVINC", 0) == 0 && name.size() == 12);
        if (course_data) {
            describe_slots(read_file(root / name), glf_course_size, 1, known, '\0', view["courses"],
                           name);
        }
    }
    return view;
}

Json::Value sample_units::describe_serial(const std::string& unit) const {
    const fs::path link = port_link(folder_, unit);
    Json::Value view(Json::objectValue);
    view["name"] = unit;
    view["kind"] = "serial";
    std::vector<std::pair<std::string, std::vector<sample_course>>> known;
    for (const model_info& model : models()) {
        if (model.unit == unit) {
            view["models"].append(model.name);
            known.emplace_back(" (" + model.name + ")", sample_courses(model));
        }
    }
    view["plugged"] = fs::is_symlink(link);
    view["location"] = link.string();
    view["files"] = Json::Value(Json::arrayValue);
    view["courses"] = Json::Value(Json::arrayValue);
    // The HX62 simulator keeps a copy of its flash beside its link, the others the names
    // of their courses.
    Json::Value held;
    Json::CharReaderBuilder reader;
    std::istringstream holds(read_file(holds_file(folder_, unit)));
    std::string errors;
    if (Json::parseFromStream(reader, holds, &held, &errors) && held.isArray()) {
        view["courses"] = held;
    }
    if (unit == "HX62") {
        const std::string flash = read_file(folder_ + unit + ".flash");
        const std::size_t first = hx62_first_sector * hx62_sector_size;
        if (flash.size() > first) {
            std::string records = flash.substr(first, hx62_record_size * hx62_record_count);
            describe_slots(records, hx62_record_size, 1, known, '\xFF', view["courses"], "flash");
        }
    }
    return view;
}

bool sample_units::set_plugged(const std::string& unit, bool plugged) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (const model_info* model = volume_model(unit)) {
        const fs::path marker = folder_ + unit + "/" + model->marker;
        if (!plugged) {
            fs::remove(marker);
            return true;
        }
        for (const model_info& other : models()) {
            if (other.name != unit && is_volume(other.family) && other.marker == model->marker) {
                fs::remove(folder_ + other.name + "/" + other.marker);
            }
        }
        write_file(marker, model->marker_content);
        return true;
    }
    const std::vector<std::string> serial = serial_units();
    if (std::find(serial.begin(), serial.end(), unit) == serial.end()) {
        return false;
    }
    std::error_code ec;
    if (plugged) {
        for (const std::string& other : serial) {
            if (other != unit && unit_bridge(other) == unit_bridge(unit) &&
                fs::is_symlink(port_link(folder_, other))) {
                fs::rename(port_link(folder_, other), unplugged_link(folder_, other), ec);
            }
        }
        if (fs::is_symlink(unplugged_link(folder_, unit))) {
            fs::rename(unplugged_link(folder_, unit), port_link(folder_, unit), ec);
        }
    } else if (fs::is_symlink(port_link(folder_, unit))) {
        fs::rename(port_link(folder_, unit), unplugged_link(folder_, unit), ec);
    }
    return !ec;
}

}  // namespace orvel::devcloud
