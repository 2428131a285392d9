// The Base64 decoding of course data fields ("glf", "glsData").
#pragma once

#include <string_view>

#include "platform/data_stream.h"

namespace orvel {

// Standard alphabet. Stops at the first "=" or at the first character outside the
// alphabet; a last group of 2 or 3 characters gives 1 or 2 bytes. Library decoders reject
// such input, the service's course texts rely on it.
byte_vector decode_base64(std::string_view text);

}  // namespace orvel
