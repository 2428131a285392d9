#include "support/capture_logger.h"

#include <rapidjson/document.h>

#include <algorithm>

namespace orvel::test {

std::string message_of_line(const std::string& line) {
    const std::string marker = "\", \"Data\":";
    const std::size_t at = line.find(marker);
    if (at == std::string::npos || line.empty() || line.back() != '}') {
        return line;
    }
    const std::size_t start = at + marker.size();
    std::string data = line.substr(start, line.size() - start - 1);
    if (data.empty() || data.front() != '"') {
        return data;  // an object embedded as it was logged
    }
    rapidjson::Document doc;
    doc.Parse(data.c_str(), data.size());
    if (doc.HasParseError() || !doc.IsString()) {
        return data;
    }
    return std::string(doc.GetString(), doc.GetStringLength());
}

std::vector<std::string> capture_logger::messages() const {
    std::vector<std::string> out;
    for (const std::string& line : lines()) {
        out.push_back(message_of_line(line));
    }
    return out;
}

bool capture_logger::contains(const std::string& message) const {
    return count(message) > 0;
}

std::size_t capture_logger::count(const std::string& message) const {
    const auto all = messages();
    return static_cast<std::size_t>(std::count(all.begin(), all.end(), message));
}

bool capture_logger::mentions(const std::string& fragment) const {
    const auto all = messages();
    return std::any_of(all.begin(), all.end(),
                       [&](const std::string& m) { return m.find(fragment) != std::string::npos; });
}

}  // namespace orvel::test
