#include "devcloud/model_catalogue.h"

namespace orvel::devcloud {

namespace {

// Uzo's unit of the samples is of set-up type "B".
constexpr const char* sample_setup_type = "B";

model_info from_row(const model_row& row) {
    model_info model;
    model.name = row.name;
    model.family = row.family;
    model.unit = row.family == model_family::hx62 ? "HX62" : row.name;
    model.bridge = bridge_of(row.family);
    model.marker = row.marker;
    model.setup_file = row.setup_file;
    model.setup_offset = row.setup_offset;
    model.package = row.package;
    model.index_file = row.index_file;
    model.name_records = row.name_records;
    model.scores = row.scores;
    model.articles = row.articles;
    model.ephemeris = row.ephemeris;
    if (row.setup_type_byte) {
        model.setup_type = sample_setup_type;
        model.marker_content = model.setup_type;
    }
    return model;
}

std::vector<model_info> make_models() {
    std::vector<model_info> all;
    for (const model_row& row : model_rows()) {
        all.push_back(from_row(row));
    }
    return all;
}

}  // namespace

const std::vector<model_info>& models() {
    static const std::vector<model_info> all = make_models();
    return all;
}

const model_info* find_model(const std::string& name) {
    for (const model_info& model : models()) {
        if (model.name == name) {
            return &model;
        }
    }
    return nullptr;
}

std::string unit_bridge(const std::string& unit) {
    for (const model_info& model : models()) {
        if (model.unit == unit && !is_volume(model.family)) {
            return model.bridge;
        }
    }
    return std::string();
}

const char* family_name(course_family family) {
    switch (family) {
        case course_family::file_volume:
            return "glf-file";
        case course_family::jtc_file:
            return "jtc-file";
        case course_family::tar_package:
            return "tar-package";
        case course_family::hx62:
            return "hx62";
        case course_family::jt:
            return "jt";
        case course_family::zel:
            return "zel";
        case course_family::vemo:
            return "vemo";
        case course_family::tavlin:
            return "tavlin";
    }
    return "";
}

}  // namespace orvel::devcloud
