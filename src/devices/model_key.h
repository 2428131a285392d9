// A model key: one of the per-model byte tables the units scramble course data with. The
// values come from the key file the build is given (devices/model_keys.h).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace orvel {

inline constexpr std::size_t model_key_length = 33;
using model_key = std::array<std::uint8_t, model_key_length>;

}  // namespace orvel
