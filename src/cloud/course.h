// The course record every model's course answer carries.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>

#include "platform/data_stream.h"

namespace orvel {

class course {
public:
    virtual ~course() = default;

    // False after logging why; a value the JSON library cannot convert throws its own error.
    virtual bool parse(const Json::Value& root);
    virtual void reset();

    byte_vector glf;
    std::string course_name;
    std::uint32_t id_course = 0xFFFFFFFF;
    std::int32_t index = -1;
    bool custom = false;

protected:
    // Logs why a record is refused; false.
    static bool refuse(const char* reason);
};

}  // namespace orvel
