#include "devcloud/sample_courses.h"

#include <json/value.h>
#include <json/writer.h>

#include <algorithm>
#include <iomanip>
#include <map>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "devcloud/sample_layout.h"
#include "devices/model_rows.h"

namespace orvel::devcloud {

namespace {

struct course_seed {
    std::uint32_t id;
    const char* name;
    int index;
};

// Three courses a family, the third a few slots on so that placement shows.
const std::map<course_family, std::vector<course_seed>> seeds = {
    {course_family::file_volume,
     {{1001, "Alder Creek Golf Club", 1}, {1002, "Birchwood Links", 2}, {1003, "Cedar Hollow", 5}}},
    {course_family::jtc_file,
     {{1101, "Dunmore Heath", 1}, {1102, "Elm Ridge Country Club", 2}, {1103, "Fernhill", 3}}},
    {course_family::tar_package,
     {{2001, "Glen Arbor", 1}, {2002, "Harrow Downs", 2}, {2003, "Ironwood Park", 11}}},
    // Records of 1500 bytes: the second course straddles two flash sectors (bytes 3000 to
    // 4499 from sector 77 on), the third lies in the next one.
    {course_family::hx62,
     {{3001, "Juniper Flats", 1}, {3002, "Kestrel Point", 3}, {3003, "Larkspur Valley", 4}}},
    {course_family::jt, {{4001, "Maple Bend", 1}, {4002, "Northgate", 2}, {4003, "Oak Shore", 3}}},
    {course_family::zel,
     {{5001, "Pine Hills", 1}, {5002, "Quarry Lakes", 2}, {5003, "Red Fox", 3}}},
    {course_family::vemo,
     {{6001, "Stony Brook", 1}, {6002, "Tamarack Run", 2}, {6003, "Upland Moor", 3}}},
    {course_family::tavlin,
     {{7001, "Vale of Ash", 1}, {7002, "Willow Marsh", 2}, {7003, "Yarrow Fields", 3}}},
};

// Bytes that differ from course to course and from place to place.
std::string filler(std::size_t size, std::uint32_t seed) {
    std::string bytes(size, '\0');
    std::uint32_t state = seed * 2654435761u + 1;
    for (char& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>(state >> 16);
    }
    return bytes;
}

void put_le16(std::string& bytes, std::size_t at, std::uint32_t value) {
    bytes[at] = static_cast<char>(value & 0xFF);
    bytes[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}

// A volume course: a tag, the id, the name in its 90-byte field, the course data.
std::string volume_course(const course_seed& seed) {
    std::string glf = filler(glf_course_size, seed.id);
    glf.replace(0, 8, "ORVGLF01");
    put_le16(glf, 8, seed.id);
    std::string name(glf_name_length, '\0');
    name.replace(0, std::min(name.size(), std::string(seed.name).size()), seed.name);
    glf.replace(glf_name_offset, glf_name_length, name);
    return glf;
}

// A model's two scrambling keys: the HX62 models' data and name keys, the tar-package
// models' key_a and key_b.
struct key_pair {
    const model_key& data;
    const model_key& name;
};

key_pair model_key_pair(const std::string& model) {
    const model_row& row = row_of(model);
    if (row.key_a == nullptr) {
        throw std::invalid_argument("no scrambling keys for " + model);
    }
    return {*row.key_a, *row.key_b};
}

// A tar-package course as the service scrambles it: the name field under key_b, then every
// byte under key_a from the course id on. The id at bytes 8-9 lets the unit take the course
// as a custom one too.
std::string tar_course(const course_seed& seed, const std::string& model) {
    constexpr std::size_t name_length = 50;
    const key_pair keys = model_key_pair(model);
    std::string glf = volume_course(seed);
    const std::string name(seed.name);
    for (std::size_t j = 0; j < name_length; ++j) {
        const char c = j < name.size() && j < name_length - 1 ? name[j] : '\0';
        glf[glf_name_offset + j] = static_cast<char>(c ^ keys.name[j % model_key_length]);
    }
    for (std::size_t i = 0; i < glf.size(); ++i) {
        glf[i] = static_cast<char>(glf[i] ^ keys.data[(i + seed.id) % model_key_length]);
    }
    return glf;
}

std::string hx62_course(const course_seed& seed, const std::string& model) {
    return scramble_hx62_record(filler(hx62_record_size, seed.id), seed.id, seed.name, model);
}

// The leading text (the name), the hole count at bytes 48-49, the course pages, then one
// image of 1635 bytes a hole.
std::string jt_course(const course_seed& seed) {
    constexpr std::size_t pages = 4658;
    constexpr std::size_t image = 1635;
    constexpr unsigned holes = 2;
    std::string glf = filler(pages + holes * image, seed.id);
    const std::string text = std::string(seed.name).substr(0, 40);
    glf.replace(0, text.size() + 1, text + '\0');
    glf[48] = static_cast<char>(holes >> 8);
    glf[49] = static_cast<char>(holes & 0xFF);
    return glf;
}

std::string compact(const Json::Value& value) {
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    return Json::writeString(writer, value);
}

// Nine holes of point texts; Tavlin units also take one tee text a hole, and write the
// slot number over the first two characters of each text.
std::string hole_course(const course_seed& seed, bool tees) {
    Json::Value glf(Json::objectValue);
    glf["holeCount"] = 9;
    Json::Value& holes = glf["holes"] = Json::Value(Json::arrayValue);
    Json::Value tee_texts(Json::arrayValue);
    for (unsigned hole = 1; hole <= 9; ++hole) {
        Json::Value points(Json::arrayValue);
        for (unsigned point = 1; point <= 3; ++point) {
            const double lat = 47.0 + seed.id % 100 * 0.01 + hole * 0.001 + point * 0.0001;
            const double lon = 8.0 + hole * 0.002 + point * 0.0002;
            std::ostringstream text;
            text << std::fixed << std::setprecision(5) << "00," << point << "," << lat << ","
                 << lon;
            points.append(text.str());
        }
        holes.append(points);
        tee_texts.append("00,tee," + std::to_string(hole));
    }
    if (tees) {
        glf["tees"] = tee_texts;
    }
    return compact(glf);
}

std::string course_bytes(const course_seed& seed, const model_info& model) {
    switch (model.family) {
        case course_family::file_volume:
        case course_family::jtc_file:
            return volume_course(seed);
        case course_family::tar_package:
            return tar_course(seed, model.name);
        case course_family::hx62:
            return hx62_course(seed, model.name);
        case course_family::jt:
            return jt_course(seed);
        case course_family::zel:
            return hole_course(seed, false);
        case course_family::vemo:
            // Always 55 XMODEM blocks of 128 bytes.
            return "VEMO" + filler(7040 - 4, seed.id);
        case course_family::tavlin:
            return hole_course(seed, true);
    }
    return std::string();
}

}  // namespace

std::string scramble_hx62_record(std::string record, std::uint32_t id, const std::string& name,
                                 const std::string& model) {
    constexpr std::size_t name_offset = 10;
    constexpr std::size_t name_length = 50;
    const key_pair keys = model_key_pair(model);
    put_le16(record, 8, id);
    // The name ends where the key gives a zero character.
    const std::size_t length = std::min(name.size(), name_length - 1);
    for (std::size_t k = 0; k <= length; ++k) {
        const char c = k < length ? name[k] : '\0';
        record[name_offset + k] = static_cast<char>(keys.name[k % model_key_length] ^ c);
    }
    // The unit reads the record after pair swaps; doing them backwards undoes them.
    std::vector<std::pair<std::size_t, std::size_t>> swaps;
    const std::int64_t end = static_cast<std::int64_t>(record.size()) - 2 + id % 2;
    for (std::int64_t i = end - id % 400 - 90, j = end; i >= static_cast<std::int64_t>(name_offset);
         i -= 2, j -= 2) {
        swaps.emplace_back(static_cast<std::size_t>(i), static_cast<std::size_t>(j));
    }
    for (auto swap = swaps.rbegin(); swap != swaps.rend(); ++swap) {
        std::swap(record[swap->first], record[swap->second]);
    }
    for (std::size_t i = 0; i < record.size(); ++i) {
        record[i] = static_cast<char>(record[i] ^ keys.data[i % model_key_length]);
    }
    return record;
}

std::vector<sample_course> sample_courses(const model_info& model) {
    std::vector<sample_course> courses;
    for (const course_seed& seed : seeds.at(model.family)) {
        sample_course course;
        course.id = seed.id;
        course.code = std::to_string(seed.id);
        course.name = seed.name;
        course.index = seed.index;
        course.glf = course_bytes(seed, model);
        if (is_volume(model.family) && seed.index == 1) {
            course.gls = "GLS " + course.name + "\n" + filler(64, seed.id + 7);
        }
        courses.push_back(std::move(course));
    }
    return courses;
}

const sample_course* identify_course(const std::vector<sample_course>& courses,
                                     const std::string& bytes) {
    for (const sample_course& course : courses) {
        if (course.glf == bytes) {
            return &course;
        }
    }
    return nullptr;
}

}  // namespace orvel::devcloud
