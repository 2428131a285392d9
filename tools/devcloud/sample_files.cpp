#include "devcloud/sample_files.h"

#include "devcloud/sample_courses.h"
#include "devcloud/sample_layout.h"
#include "sim/tar_builder.h"

namespace orvel::devcloud {

namespace {

// Every tar entry begins with the folder the agent drops from each name.
const std::string package_folder = "pkg/";

std::string le(std::uint32_t value, std::size_t width) {
    std::string bytes(width, '\0');
    for (std::size_t i = 0; i < width; ++i) {
        bytes[i] = static_cast<char>(value >> (8 * i));
    }
    return bytes;
}

std::string field(const std::string& text, std::size_t width) {
    std::string bytes(width, '\0');
    bytes.replace(0, std::min(width, text.size()), text.substr(0, width));
    return bytes;
}

std::string setup_data(const model_info& model) {
    std::string data =
        "ORVEL SET-UP " + model.name + " version " + std::to_string(sample_version) + "\n";
    data.resize(512, '.');
    return data;
}

// The course file of the GLF-file models: equal slots, a course in the slot of its index.
std::string course_file(const model_info& model, bool with_courses) {
    std::string file(glf_file_slots * glf_course_size, '\0');
    if (with_courses) {
        for (const sample_course& course : sample_courses(model)) {
            file.replace(static_cast<std::size_t>(course.index - 1) * glf_course_size,
                         glf_course_size, course.glf);
        }
    }
    return file;
}

// The course library of the tar-package models: the index header, index files of 32-byte
// entries, one data file of slots in "crs/", and (Nebro, Uzo) a name file in "name/".
std::vector<volume_file> course_library(const model_info& model, bool with_courses) {
    const std::vector<sample_course> courses = sample_courses(model);
    std::string data(tar_course_count * glf_course_size, '\0');
    std::vector<std::string> index_files((tar_course_count + tar_courses_per_file - 1) /
                                         tar_courses_per_file);
    for (std::uint32_t k = 0; k < tar_course_count; ++k) {
        std::uint32_t id = 0;
        for (const sample_course& course : courses) {
            if (static_cast<std::uint32_t>(course.index) == k + 1) {
                id = course.id;
                if (with_courses) {
                    data.replace(k * glf_course_size, glf_course_size, course.glf);
                }
            }
        }
        std::string entry = field("entry", 8) + le(k * glf_course_size, 4) + le(id, 2) +
                            field("crs", 4) + field("d00", 4) +
                            field(model.name_records ? "n00" : "", 4) + le(k, 2) +
                            std::string(4, '\0');
        index_files[k / tar_courses_per_file] += entry;
    }
    std::vector<volume_file> files;
    files.emplace_back("idx/" + model.index_file,
                       "ORVL" + le(tar_course_count, 2) + le(tar_courses_per_file, 2));
    for (std::size_t n = 0; n < index_files.size(); ++n) {
        std::string name = std::to_string(n);
        name.insert(0, name.size() < 3 ? 3 - name.size() : 0, '0');
        files.emplace_back("idx/" + name, index_files[n]);
    }
    files.emplace_back("crs/d00", data);
    if (model.name_records) {
        files.emplace_back("name/n00", std::string(tar_course_count * 50, '\0'));
    }
    return files;
}

std::string package(const model_info& model) {
    test::tar_builder archive;
    for (const auto& [name, content] : course_library(model, true)) {
        archive.file(package_folder + name, content);
    }
    return archive.end().bytes();
}

std::string model_path(const model_info& model, const std::string& name) {
    return "/files/" + model.name + "/" + name;
}

}  // namespace

std::vector<volume_file> volume_files(const model_info& model, bool with_courses) {
    switch (model.family) {
        case course_family::file_volume: {
            std::vector<volume_file> files{{"EMBEDD01.GLF", course_file(model, with_courses)}};
            if (!model.setup_file.empty()) {
                // The unit's own first bytes, which a full update keeps.
                std::string unit_part = field("UNIT " + model.name + " 0001", model.setup_offset);
                files.emplace_back(model.setup_file, unit_part + setup_data(model));
            }
            return files;
        }
        case course_family::jtc_file:
            return {};
        case course_family::tar_package:
            return course_library(model, with_courses);
        default:
            return {};
    }
}

sample_files::sample_files() {
    for (const model_info& model : models()) {
        switch (model.family) {
            case course_family::file_volume:
            case course_family::jtc_file:
                files_[model_path(model, "EMBEDD01.GLF")] = course_file(model, true);
                if (!model.setup_file.empty()) {
                    files_[model_path(model, model.setup_file)] = setup_data(model);
                }
                break;
            case course_family::tar_package:
                files_[model_path(model, model.package)] = package(model);
                break;
            default:
                break;
        }
    }
    // The unit stores each under the name after the last underscore: GPS1.ALP and on.
    for (int n = 1; n <= 3; ++n) {
        ephemeris_file file;
        file.path = "/files/ephemeris/eph_gps" + std::to_string(n) + ".alp";
        file.days = 7 * n;
        std::string content = "ORVEL EPHEMERIS " + std::to_string(file.days) + " days\n";
        content.resize(2048 * static_cast<std::size_t>(n), static_cast<char>('0' + n));
        files_[file.path] = content;
        ephemeris_.push_back(file);
    }
}

const std::string* sample_files::find(const std::string& path) const {
    const auto found = files_.find(path);
    return found != files_.end() ? &found->second : nullptr;
}

std::vector<update_file> sample_files::update_files(const model_info& model) const {
    std::vector<update_file> files;
    switch (model.family) {
        case course_family::file_volume:
        case course_family::jtc_file:
            files.push_back({"EMBEDD01.GLF", model_path(model, "EMBEDD01.GLF")});
            if (!model.setup_file.empty()) {
                files.push_back({model.setup_file, model_path(model, model.setup_file)});
            }
            break;
        case course_family::tar_package:
            files.push_back({model.package, model_path(model, model.package)});
            break;
        default:
            break;
    }
    return files;
}

}  // namespace orvel::devcloud
