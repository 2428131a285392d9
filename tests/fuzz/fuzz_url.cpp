// The service's and the answers' URLs: the parts are pieces of the text, in order.
#include <cstdint>
#include <string>

#include "cloud/url.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const orvel::url_parts parts = orvel::split_url(text);
    FUZZ_CHECK(parts.scheme.size() + parts.host.size() + parts.object.size() <= size);
    FUZZ_CHECK(text.find(parts.scheme) != std::string::npos);
    FUZZ_CHECK(text.find(parts.host) != std::string::npos);
    FUZZ_CHECK(parts.host.find('/') == std::string::npos);
    if (!parts.object.empty()) {
        FUZZ_CHECK(text.size() >= parts.object.size() &&
                   text.compare(text.size() - parts.object.size(), parts.object.size(),
                                parts.object) == 0);
    }
    return 0;
}
