// A plain-socket download's answer, cut where the download cuts it: the status line, the
// header lines and the body. Each part either parses or fails the download; a chunked body
// decodes to the same bytes and the same outcome whether it comes whole or byte by byte.
#include <cstdint>
#include <string>

#include "base/failures.h"
#include "cloud/download_answer.h"
#include "fuzz/fuzz_check.h"

namespace {

bool is_download_failure(const orvel::http_exception& e) {
    return e.message().rfind("_http_download_: ", 0) == 0;
}

// The kept bytes, and whether the body failed; done tells whether it ended.
std::string decode(const std::string& body, std::size_t piece, bool& failed, bool& done) {
    orvel::chunk_decoder chunks;
    std::string kept;
    failed = false;
    try {
        for (std::size_t at = 0; at < body.size(); at += piece) {
            chunks.feed(body.data() + at, std::min(piece, body.size() - at),
                        [&](const char* bytes, std::size_t count) { kept.append(bytes, count); });
        }
    } catch (const orvel::http_exception& e) {
        FUZZ_CHECK(is_download_failure(e));
        failed = true;
    }
    done = chunks.done();
    return kept;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string received(reinterpret_cast<const char*>(data), size);
    const std::size_t line_end = received.find("\r\n");
    const std::size_t head_end = received.find("\r\n\r\n");
    if (line_end == std::string::npos || head_end == std::string::npos) {
        return 0;
    }
    orvel::answer_head head;
    try {
        head = orvel::parse_status_line(received.substr(0, line_end + 2));
        FUZZ_CHECK(received.find("HTTP/") != std::string::npos);
        FUZZ_CHECK(head.reason.size() < line_end);
    } catch (const orvel::http_exception& e) {
        FUZZ_CHECK(is_download_failure(e));
        return 0;
    }
    const std::size_t body_start = head_end + 4;
    if (body_start > line_end + 2) {
        orvel::parse_header_lines(received.substr(line_end + 2, body_start - line_end - 2), head);
    }
    if (head.chunked || size % 2 == 0) {
        const std::string body = received.substr(body_start);
        bool failed_whole = false;
        bool done_whole = false;
        bool failed_bytes = false;
        bool done_bytes = false;
        const std::string whole = decode(body, body.size() + 1, failed_whole, done_whole);
        const std::string bytes = decode(body, 1, failed_bytes, done_bytes);
        FUZZ_CHECK(whole.size() <= body.size());
        FUZZ_CHECK(failed_whole == failed_bytes && done_whole == done_bytes);
        FUZZ_CHECK(failed_whole || whole == bytes);
        FUZZ_CHECK(!(failed_whole && done_whole));
    }
    return 0;
}
