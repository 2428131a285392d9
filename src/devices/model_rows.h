// Every unit model as one row: what tells it apart from the other models of its family.
// The model table, the development cloud and the tests all read these rows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "devices/model_key.h"

namespace orvel {

enum class model_family {
    hx62,  // flash sectors behind a CP210x bridge
    jt,    // the serial protocols behind a Prolific bridge
    zel,
    vemo,
    tavlin,
    file_volume,  // slots of EMBEDD01.GLF on a volume
    jtc_file,     // one KVINC file per course on a volume
    tar_package,  // a course library unpacked from a tar package
};

struct model_row {
    const char* name;  // the page's model text
    model_family family;
    // HX62: the course data key and the name key; tar packages: the name records' keys.
    const model_key* key_a;
    const model_key* key_b;
    // Volume models: the marker file that makes a volume the model's, the set-up file
    // ("" for none) and how many of its first bytes stay the unit's own.
    const char* marker;
    const char* setup_file;
    std::uint32_t setup_offset;
    // Tar-package models: the archive a full update lists and the index header's file.
    const char* package;
    const char* index_file;
    // What a full update brings besides the files: score files ("SP/") and article files
    // ("NAR/"); tar packages: course-name records and the satellite ephemeris.
    bool scores;
    bool articles;
    bool name_records;
    bool ephemeris;
    // Takes only courses made for its set-up type, the first byte of its marker file.
    bool setup_type_byte;
    // Logs a course's name after its id.
    bool numbered_names;
};

// In the order the page's model text is compared with them.
const std::vector<model_row>& model_rows();
// The first whole, case-sensitive match; code 900 for any other text.
const model_row& row_of(const std::string& name);
bool is_volume(model_family family);
// The friendly name of a serial model's USB bridge, by which its port is found.
const char* bridge_of(model_family family);

}  // namespace orvel
