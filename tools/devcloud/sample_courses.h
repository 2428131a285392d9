// Made-up courses for every model family, each the size and shape the family's units and
// the agent's parsers take.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "devcloud/model_catalogue.h"

namespace orvel::devcloud {

struct sample_course {
    std::string code;  // the page's courseCode: the id in decimals
    std::uint32_t id = 0;
    std::string name;
    int index = 0;  // the 1-based slot or sync index the service sends
    std::string glf;
    std::string gls;  // side data of volume courses; may be empty
};

// The model's courses, in index order.
std::vector<sample_course> sample_courses(const model_info& model);
// The course the bytes are, by the model's courses; nullptr when none is.
const sample_course* identify_course(const std::vector<sample_course>& courses,
                                     const std::string& bytes);

// Scrambles an HX62 record the way the model's units keep it, so that the agent reads the
// course's own id and name back from it.
std::string scramble_hx62_record(std::string record, std::uint32_t id, const std::string& name,
                                 const std::string& model);

}  // namespace orvel::devcloud
