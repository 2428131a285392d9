#include "link/page_text.h"

#include <cstdint>
#include <websocketpp/utf8_validator.hpp>

namespace orvel {

std::string page_text(const std::string& line) {
    namespace utf8 = websocketpp::utf8_validator;
    if (utf8::validate(line)) {
        return line;
    }
    const char* const replacement = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(line.size() + 16);
    std::uint32_t state = utf8::utf8_accept;
    std::uint32_t codepoint = 0;
    std::size_t start = 0;
    for (std::size_t at = 0; at < line.size(); ++at) {
        if (state == utf8::utf8_accept) {
            start = at;
        }
        const auto byte = static_cast<std::uint8_t>(line[at]);
        state = utf8::decode(&state, &codepoint, byte);
        if (state == utf8::utf8_accept) {
            out.append(line, start, at - start + 1);
        } else if (state == utf8::utf8_reject) {
            out += replacement;
            state = utf8::utf8_accept;
            // A byte that broke a sequence may begin the next one.
            if (at > start) {
                --at;
            }
        }
    }
    if (state != utf8::utf8_accept) {
        out += replacement;
    }
    return out;
}

}  // namespace orvel
