// Course data text: decoding never reads past its input and yields at most 3 bytes for
// every 4 characters (a last group of 2 or 3 gives 1 or 2).
#include <cstdint>
#include <string_view>

#include "cloud/base64.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const orvel::byte_vector bytes = orvel::decode_base64(text);
    FUZZ_CHECK(bytes.size() <= (size / 4) * 3 + 2);
    // A prefix decodes to a prefix: the decoder stops, it never reinterprets.
    if (size > 4) {
        const orvel::byte_vector head = orvel::decode_base64(text.substr(0, (size / 4) * 4 - 4));
        FUZZ_CHECK(head.size() <= bytes.size());
        for (std::size_t i = 0; i < head.size(); ++i) {
            FUZZ_CHECK(head[i] == bytes[i]);
        }
    }
    return 0;
}
