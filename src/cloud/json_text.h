// JsonCpp reading and writing in the forms the cloud service exchanges.
#pragma once

#include <json/value.h>

#include <string>

namespace orvel {

// Compact (no spaces or line breaks), members in byte order of their names, no line feed.
std::string compact_json(const Json::Value& value);
// Comments allowed, any value as root, an empty or blank text is null. False with the
// parser's formatted error list in errors.
bool parse_json(const std::string& text, Json::Value& root, std::string& errors);

}  // namespace orvel
