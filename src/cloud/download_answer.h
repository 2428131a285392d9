// The framing of a plain-socket download's answer: its status line, the header lines that
// say how long the body is, and a chunked body.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

namespace orvel {

// Throws http_exception "_http_download_: <reason>".
[[noreturn]] void fail_download(const std::string& reason);

struct answer_head {
    unsigned status = 0;
    std::string reason;
    bool has_length = false;
    std::uint64_t content_length = 0;
    bool chunked = false;
};

// "HTTP/1.1 200 OK\r\n"; fails the download when it is no status line.
answer_head parse_status_line(const std::string& line);
// Header lines up to the empty one; only the body's length and framing matter here.
void parse_header_lines(const std::string& text, answer_head& head);

// Undoes "Transfer-Encoding: chunked", which an HTTP/1.1 server may choose for any answer:
// written as it came, the chunk sizes would end up inside the package.
class chunk_decoder {
public:
    // Hands the data bytes among the received ones to keep, in order.
    template <typename Keep>
    void feed(const char* bytes, std::size_t count, const Keep& keep) {
        std::size_t at = 0;
        while (at < count && stage_ != stage::done) {
            if (stage_ == stage::data) {
                const auto take =
                    static_cast<std::size_t>(std::min<std::uint64_t>(left_, count - at));
                keep(bytes + at, take);
                at += take;
                left_ -= take;
                if (left_ == 0) {
                    stage_ = stage::data_end;
                }
                continue;
            }
            const char c = bytes[at++];
            if (c != '\n') {
                if (line_.size() >= max_line) {
                    fail_download("Invalid chunked body");
                }
                line_ += c;
                continue;
            }
            if (!line_.empty() && line_.back() == '\r') {
                line_.pop_back();
            }
            end_line();
            line_.clear();
        }
    }

    bool done() const { return stage_ == stage::done; }

private:
    enum class stage { size, data, data_end, trailer, done };
    static constexpr std::size_t max_line = 4096;

    void end_line();
    // Hexadecimal digits, then nothing or extensions after ";".
    std::uint64_t chunk_size() const;

    stage stage_ = stage::size;
    std::string line_;
    std::uint64_t left_ = 0;
};

}  // namespace orvel
