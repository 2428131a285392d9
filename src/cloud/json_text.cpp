#include "cloud/json_text.h"

#include <json/reader.h>
#include <json/writer.h>

#include <memory>

namespace orvel {

std::string compact_json(const Json::Value& value) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, value);
}

bool parse_json(const std::string& text, Json::Value& root, std::string& errors) {
    root = Json::Value();
    errors.clear();
    // An empty answer carries no envelope; it must reach the envelope check, not count as
    // a syntax error.
    if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
        return true;
    }
    Json::CharReaderBuilder builder;
    builder["allowComments"] = true;
    builder["strictRoot"] = false;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    return reader->parse(text.data(), text.data() + text.size(), &root, &errors);
}

}  // namespace orvel
