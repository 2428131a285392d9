#include "cloud/download_answer.h"

#include <boost/algorithm/string/predicate.hpp>
#include <boost/algorithm/string/trim.hpp>

#include <cstdlib>
#include <sstream>

#include "base/failures.h"

namespace orvel {

void fail_download(const std::string& reason) {
    throw http_exception("_http_download_: " + reason);
}

answer_head parse_status_line(const std::string& line) {
    std::istringstream in(line);
    std::string version;
    answer_head head;
    in >> version >> head.status;
    if (!in || !boost::algorithm::starts_with(version, "HTTP/")) {
        fail_download("Invalid response: " + boost::algorithm::trim_copy(line));
    }
    std::getline(in, head.reason);
    boost::algorithm::trim(head.reason);
    return head;
}

void parse_header_lines(const std::string& text, answer_head& head) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line) && line != "\r") {
        const std::string encoding = "transfer-encoding:";
        if (boost::algorithm::istarts_with(line, encoding)) {
            head.chunked = head.chunked || boost::algorithm::icontains(line, "chunked");
            continue;
        }
        const std::string name = "content-length:";
        if (!boost::algorithm::istarts_with(line, name)) {
            continue;
        }
        const std::string value = boost::algorithm::trim_copy(line.substr(name.size()));
        char* end = nullptr;
        const unsigned long long length = std::strtoull(value.c_str(), &end, 10);
        if (!value.empty() && end != nullptr && *end == '\0' && value[0] != '-') {
            head.has_length = true;
            head.content_length = length;
        }
    }
}

void chunk_decoder::end_line() {
    switch (stage_) {
        case stage::size:
            left_ = chunk_size();
            stage_ = left_ == 0 ? stage::trailer : stage::data;
            break;
        case stage::data_end:
            if (!line_.empty()) {
                fail_download("Invalid chunked body");
            }
            stage_ = stage::size;
            break;
        case stage::trailer:
            if (line_.empty()) {
                stage_ = stage::done;
            }
            break;
        case stage::data:
        case stage::done:
            break;
    }
}

std::uint64_t chunk_decoder::chunk_size() const {
    std::uint64_t size = 0;
    std::size_t digits = 0;
    for (; digits < line_.size(); ++digits) {
        const char c = line_[digits];
        int value = -1;
        if (c >= '0' && c <= '9') {
            value = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            value = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            value = c - 'A' + 10;
        }
        if (value < 0) {
            break;
        }
        if (digits == 15) {
            fail_download("Invalid chunk size: " + line_);
        }
        size = size * 16 + static_cast<std::uint64_t>(value);
    }
    const std::size_t rest = line_.find_first_not_of(" \t", digits);
    if (digits == 0 || (rest != std::string::npos && line_[rest] != ';')) {
        fail_download("Invalid chunk size: " + line_);
    }
    return size;
}

}  // namespace orvel
