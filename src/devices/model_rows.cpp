#include "devices/model_rows.h"

#include "base/failures.h"
#include "devices/model_keys.h"
#include "devices/serial/comm_device.h"

namespace orvel {

namespace {

namespace keys = model_keys;

// A row of a name and a family alone: a serial model's whole row, and where the others start.
model_row serial(const char* name, model_family family) {
    return {name, family, nullptr, nullptr, "",    "",    0,    "",
            "",   false,  false,   false,   false, false, false};
}

model_row hx62(const char* name, const model_key& data_key, const model_key& name_key) {
    model_row row = serial(name, model_family::hx62);
    row.key_a = &data_key;
    row.key_b = &name_key;
    return row;
}

model_row volume(const char* name, model_family family, const char* marker, const char* setup_file,
                 bool scores, bool articles) {
    model_row row = serial(name, family);
    row.marker = marker;
    row.setup_file = setup_file;
    row.scores = scores;
    row.articles = articles;
    return row;
}

model_row tar(const char* name, const char* marker, const char* package, const char* index_file,
              const model_key& key_a, const model_key& key_b) {
    model_row row = volume(name, model_family::tar_package, marker, "", false, false);
    row.package = package;
    row.index_file = index_file;
    row.key_a = &key_a;
    row.key_b = &key_b;
    return row;
}

std::vector<model_row> make_rows() {
    model_row nebro = tar("Nebro", "nebro.setup", "nebro.tar", "nebro.idx", keys::Nebro::key_a,
                          keys::Nebro::key_b);
    nebro.name_records = true;
    model_row uzo =
        tar("Uzo", "uzo.setup", "uzo.tar", "uzo.idx", keys::Uzo::key_a, keys::Uzo::key_b);
    uzo.name_records = true;
    uzo.setup_type_byte = true;
    model_row prang =
        tar("Prang", "PRANG.STP", "prang.tar", "prang.idx", keys::Prang::key_a, keys::Prang::key_b);
    prang.ephemeris = true;
    model_row hx_zel_plus = hx62("HXZelPlus", keys::HXZelPlus::data_key, keys::HXZelPlus::name_key);
    hx_zel_plus.numbered_names = true;
    model_row km3 =
        volume("KM3", model_family::file_volume, "Brevanto.exe", "SETUP.KM3", true, false);
    km3.setup_offset = 29;
    return {
        tar("Quorvanda", "qvanda.stp", "quorvanda.tar", "qvanda.idx", keys::Quorvanda::key_a,
            keys::Quorvanda::key_b),
        tar("Morvane", "morvane.stp", "morvane.tar", "morvane.idx", keys::Morvane::key_a,
            keys::Morvane::key_b),
        tar("Uzo2", "uzo2.stp", "uzo2.tar", "uzo2.idx", keys::Uzo2::key_a, keys::Uzo2::key_b),
        tar("Caltor2", "caltor2.stp", "caltor2.tar", "caltor2.idx", keys::Caltor2::key_a,
            keys::Caltor2::key_b),
        prang,
        hx62("HXQuillan", keys::HXQuillan::data_key, keys::HXQuillan::name_key),
        uzo,
        hx62("HXZelX", keys::HXZelX::data_key, keys::HXZelX::name_key),
        hx62("HXZelXS", keys::HXZelXS::data_key, keys::HXZelXS::name_key),
        hx_zel_plus,
        hx62("HXBrevanto", keys::HXBrevanto::data_key, keys::HXBrevanto::name_key),
        volume("ZelPlus", model_family::file_volume, "SYSREG.SMI", "SETUP.SMI", false, false),
        volume("JTCPlus", model_family::file_volume, "SYSREG.SMI", "SETUP.SMI", true, true),
        km3,
        nebro,
        serial("Zel", model_family::zel),
        serial("Vemo", model_family::vemo),
        volume("JTC", model_family::jtc_file, "SYSREG.SMI", "", true, true),
        serial("Tavlin", model_family::tavlin),
        serial("JT", model_family::jt),
    };
}

}  // namespace

const std::vector<model_row>& model_rows() {
    static const std::vector<model_row> rows = make_rows();
    return rows;
}

const model_row& row_of(const std::string& name) {
    for (const model_row& row : model_rows()) {
        if (name == row.name) {
            return row;
        }
    }
    raise_sync_error(sync_error_code::unknown_model);
}

bool is_volume(model_family family) {
    return family == model_family::file_volume || family == model_family::jtc_file ||
           family == model_family::tar_package;
}

const char* bridge_of(model_family family) {
    if (is_volume(family)) {
        return "";
    }
    return family == model_family::hx62 ? silicon_labs_bridge : prolific_bridge;
}

}  // namespace orvel
