// The course name inside an HX62 course record, which the service scrambles with the
// model's keys. Only logged: the unit never needs it from us.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "devices/model_key.h"
#include "platform/data_stream.h"

namespace orvel {

// Descrambles the record in place and answers the name in it. A record of another course
// logs "Incorrect id_course, <found> insted of <expected>" and has no name.
std::optional<std::string> descramble_course(byte_vector& record, std::uint32_t expected_id,
                                             const model_key& data_key, const model_key& name_key);

}  // namespace orvel
