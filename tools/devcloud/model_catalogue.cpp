#include "devcloud/model_catalogue.h"

namespace orvel::devcloud {

namespace {

model_info volume(const std::string& name, course_family family, const std::string& marker,
                  const std::string& setup_file, bool scores, bool articles) {
    model_info model;
    model.name = name;
    model.family = family;
    model.unit = name;
    model.marker = marker;
    model.setup_file = setup_file;
    model.scores = scores;
    model.articles = articles;
    return model;
}

model_info tar_model(const std::string& name, const std::string& marker, const std::string& package,
                     const std::string& index_file) {
    model_info model = volume(name, course_family::tar_package, marker, "", false, false);
    model.package = package;
    model.index_file = index_file;
    return model;
}

model_info serial(const std::string& name, course_family family, const std::string& unit) {
    model_info model;
    model.name = name;
    model.family = family;
    model.unit = unit;
    model.bridge = family == course_family::hx62 ? "Silicon Labs CP210x USB to UART Bridge"
                                                 : "Prolific USB-to-Serial Comm Port";
    return model;
}

std::vector<model_info> make_models() {
    model_info nebro = tar_model("Nebro", "nebro.setup", "nebro.tar", "nebro.idx");
    nebro.name_records = true;
    model_info uzo = tar_model("Uzo", "uzo.setup", "uzo.tar", "uzo.idx");
    uzo.name_records = true;
    uzo.setup_type = "B";
    uzo.marker_content = uzo.setup_type;
    model_info prang = tar_model("Prang", "PRANG.STP", "prang.tar", "prang.idx");
    prang.ephemeris = true;
    model_info km3 =
        volume("KM3", course_family::glf_file, "Brevanto.exe", "SETUP.KM3", true, false);
    km3.setup_offset = 29;
    return {
        tar_model("Quorvanda", "qvanda.stp", "quorvanda.tar", "qvanda.idx"),
        tar_model("Morvane", "morvane.stp", "morvane.tar", "morvane.idx"),
        tar_model("Uzo2", "uzo2.stp", "uzo2.tar", "uzo2.idx"),
        tar_model("Caltor2", "caltor2.stp", "caltor2.tar", "caltor2.idx"),
        prang,
        serial("HXQuillan", course_family::hx62, "HX62"),
        uzo,
        serial("HXZelX", course_family::hx62, "HX62"),
        serial("HXZelXS", course_family::hx62, "HX62"),
        serial("HXZelPlus", course_family::hx62, "HX62"),
        serial("HXBrevanto", course_family::hx62, "HX62"),
        volume("ZelPlus", course_family::glf_file, "SYSREG.SMI", "SETUP.SMI", false, false),
        volume("JTCPlus", course_family::glf_file, "SYSREG.SMI", "SETUP.SMI", true, true),
        km3,
        nebro,
        serial("Zel", course_family::zel, "Zel"),
        serial("Vemo", course_family::vemo, "Vemo"),
        volume("JTC", course_family::jtc_file, "SYSREG.SMI", "", true, true),
        serial("Tavlin", course_family::tavlin, "Tavlin"),
        serial("JT", course_family::jt, "JT"),
    };
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

bool is_volume(course_family family) {
    return family == course_family::glf_file || family == course_family::jtc_file ||
           family == course_family::tar_package;
}

const char* family_name(course_family family) {
    switch (family) {
        case course_family::glf_file:
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
