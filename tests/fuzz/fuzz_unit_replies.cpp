// The replies of the serial units that answer in text (the JT and Vemo replies are only
// compared with what is expected): the first byte is the Tavlin message type, the rest the
// reply. A framed Tavlin reply's text lies inside it before the sum and end mark; a held
// course name is the tail of the reply behind its comma.
#include <algorithm>
#include <cstdint>
#include <string>

#include "devices/serial/tavlin_message.h"
#include "devices/serial/zel_device.h"
#include "fuzz/fuzz_check.h"

namespace {

bool ends_with(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const orvel::byte_vector reply(data + 1, data + size);
    std::string text;
    if (orvel::reply_of(reply, data[0], text)) {
        FUZZ_CHECK(text.size() + 8 <= reply.size());
        FUZZ_CHECK(text == std::string(reply.begin() + 6, reply.begin() + 6 + text.size()));
        std::string held;
        if (orvel::held_course_name(text, held)) {
            FUZZ_CHECK(!held.empty() && held.size() < text.size() && ends_with(text, held));
        }
    }
    const std::string zel_reply(reply.begin(), std::find(reply.begin(), reply.end(), 0));
    std::string held;
    if (orvel::zel_held_name(zel_reply, held)) {
        FUZZ_CHECK(held.size() + 6 <= zel_reply.size() && ends_with(zel_reply, held));
        FUZZ_CHECK(zel_reply[zel_reply.size() - held.size() - 1] == ',');
    }
    return 0;
}
