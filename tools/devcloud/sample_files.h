// The files the development cloud serves under "/files/": each volume model's course file,
// set-up file or course package, and the ephemeris files. Made once at start.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "devcloud/model_catalogue.h"

namespace orvel::devcloud {

// The version a full update of any model brings.
inline constexpr int sample_version = 3;

// A file of a full update or restore: its name on the unit and its path on the cloud.
struct update_file {
    std::string unit_name;
    std::string path;
};

struct ephemeris_file {
    std::string path;
    int days = 0;
};

// A file below a volume's root, by its relative path.
using volume_file = std::pair<std::string, std::string>;

class sample_files {
public:
    sample_files();

    // nullptr when nothing is served at the path.
    const std::string* find(const std::string& path) const;
    // What a full update or restore of the model downloads, in order.
    std::vector<update_file> update_files(const model_info& model) const;
    const std::vector<ephemeris_file>& ephemeris() const { return ephemeris_; }

private:
    std::map<std::string, std::string> files_;
    std::vector<ephemeris_file> ephemeris_;
};

// A volume model's files as its unit holds them: with the sample courses in their slots,
// as a full update brings them, or blank, as a new unit has them. The marker is not among
// them.
std::vector<volume_file> volume_files(const model_info& model, bool with_courses);

}  // namespace orvel::devcloud
