// The value kinds the full-update answer's members are checked against.
#pragma once

#include <json/value.h>

#include <cstdint>

namespace orvel {

// A signed or unsigned integer or a boolean. JsonCpp's own isIntegral also takes reals
// without a fraction, which the service never sends for these members.
inline bool is_integral_value(const Json::Value& value) {
    const Json::ValueType type = value.type();
    return type == Json::intValue || type == Json::uintValue || type == Json::booleanValue;
}

inline bool is_numeric_value(const Json::Value& value) {
    return is_integral_value(value) || value.type() == Json::realValue;
}

// An integral value's low bits, whatever its sign or size; the fields that take it are
// narrower than the JSON number.
inline std::uint64_t low_bits(const Json::Value& value) {
    if (value.isBool()) {
        return value.asBool() ? 1 : 0;
    }
    if (value.type() == Json::uintValue) {
        return value.asLargestUInt();
    }
    return static_cast<std::uint64_t>(value.asLargestInt());
}

}  // namespace orvel
