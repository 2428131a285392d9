// The agent's unit models as the development cloud knows them: the agent's own rows, and
// what a simulated unit of each holds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "devices/model_rows.h"

namespace orvel::devcloud {

// The agent's families, as the catalogue and the samples name them.
using course_family = model_family;
using orvel::is_volume;

struct model_info {
    std::string name;  // the page's model text
    course_family family;
    // The simulated unit that stands for the model: its own volume, or the simulator of
    // its serial protocol, which the models of a family share ("HX62").
    std::string unit;
    // Serial models: the friendly name of the unit's USB bridge, by which the agent finds
    // its port. Units that share one cannot be plugged in together: the agent would take
    // the first.
    std::string bridge;
    // Volume models: the marker file that makes the folder the model's volume, with what
    // it holds (Uzo reads its set-up type from it).
    std::string marker;
    std::string marker_content;
    std::string setup_file;  // "" when the model has none
    std::uint32_t setup_offset = 0;
    // Tar-package models.
    std::string package;
    std::string index_file;
    bool name_records = false;
    // What a full update brings besides the files.
    bool scores = false;
    bool articles = false;
    bool ephemeris = false;
    // Courses and full updates of a model that checks it carry it as "setupType".
    std::string setup_type;
};

// In the order of the agent's model table.
const std::vector<model_info>& models();
// nullptr when no model has that name.
const model_info* find_model(const std::string& name);
// The bridge of a serial unit ("" for a unit no serial model has).
std::string unit_bridge(const std::string& unit);
const char* family_name(course_family family);

}  // namespace orvel::devcloud
