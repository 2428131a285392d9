#include "cloud/http_transport.h"

#include <atomic>
#include <cinttypes>
#include <vector>

#include "base/failures.h"
#include "base/format.h"
#include "base/log_hub.h"
#include "cloud/http_failure.h"
#include "cloud/retry_policy.h"
#include "cloud/url.h"
#include "platform/file_stream.h"
#include "platform/http_client.h"
#include "platform/memory_stream.h"
#include "platform/write_behind.h"

namespace orvel {

namespace {

constexpr const char* agent_name = "Orvel Sync App";

std::atomic<std::uint32_t> stall_limit_ms{default_stall_limit_ms};

// The client hands the body over in pieces of up to 64 KiB (16 KiB over TLS); a file takes
// it far faster in fewer, larger writes (a system call costs more than 16 KiB of copying),
// and a batch that still fits the processor's cache beats a larger one.
constexpr std::size_t batch_size = 1024 * 1024;

// What an exchange's answer may be, and where its bytes end up.
struct answer_rules {
    std::uint64_t max_size = unlimited_answer;
    // The file under the stream, when it is one, for writing behind.
    stdio_file* file = nullptr;
};

// Writes the answer body into the caller's stream and logs an unsuccessful answer's head.
class answer_writer : public platform::http_exchange {
public:
    answer_writer(data_stream& stream, event_base& event, const std::string& object,
                  const answer_rules& rules)
        : stream_(stream), event_(event), object_(object), rules_(rules) {}

    void on_head(const platform::http_response_head& head) override {
        head_ = head;
        seen_head_ = true;
        if (!successful()) {
            log(3, "HTTP Status: %s", std::to_string(head.status).c_str());
            log(3, "URL: %s\nResponse headers: %s\n", object_.c_str(), head.raw_headers.c_str());
        }
        if (head.has_length && head.content_length > rules_.max_size) {
            refuse(format_text("Answer refused: %" PRIu64 " bytes announced, at most %" PRIu64
                               " taken (%s)",
                               head.content_length, rules_.max_size, object_.c_str()));
        }
    }

    void on_body(const void* bytes, std::size_t count) override {
        received_ += count;
        if (received_ > rules_.max_size) {
            refuse(format_text("Answer refused: more than %" PRIu64 " bytes (%s)", rules_.max_size,
                               object_.c_str()));
        }
        if (pending_.size() + count > batch_size) {
            flush();
        }
        const auto* first = static_cast<const char*>(bytes);
        pending_.insert(pending_.end(), first, first + count);
    }

    // Hands what is held back to the stream; due whenever the exchange ends.
    void flush() {
        if (pending_.empty()) {
            return;
        }
        stream_.write(pending_.data(), static_cast<std::uint32_t>(pending_.size()));
        unsynced_ += pending_.size();
        pending_.clear();
        if (rules_.file != nullptr && unsynced_ >= platform::writeback_step) {
            platform::start_writeback(rules_.file->handle());
            unsynced_ = 0;
        }
    }

    bool stop_requested() override { return event_.wait(0); }

    bool seen_head() const { return seen_head_; }
    bool successful() const { return head_.status == 200; }

private:
    // Not a transport failure: asked again, the service would send the same.
    [[noreturn]] static void refuse(const std::string& reason) {
        log(3, "%s", reason.c_str());
        throw intl_exception(reason);
    }

    data_stream& stream_;
    event_base& event_;
    const std::string& object_;
    const answer_rules& rules_;
    std::vector<char> pending_;
    std::uint64_t received_ = 0;
    std::uint64_t unsynced_ = 0;
    platform::http_response_head head_;
    bool seen_head_ = false;
};

// The bytes the answer wrote, from start to the stream's position. Around them the stream
// may hold a unit's own file, which a download with an offset writes over: binary bytes
// that are no answer.
std::string answer_text(data_stream& stream, std::uint32_t start) {
    const std::uint32_t end = stream.tell();
    std::string text(end > start ? end - start : 0, '\0');
    stream.seek(start);
    if (!text.empty()) {
        stream.read(text);
    }
    return text;
}

// What a stream held before the first try of a request. A failed try may have written a
// part of an answer, longer than the whole answer of the next: each try starts again from
// this, so that the stream ends with the old bytes around exactly one answer.
class stream_start {
public:
    explicit stream_start(data_stream& stream) : stream_(stream), position_(stream.tell()) {
        // In practice empty (a fresh file, a cleared answer) or a small set-up file.
        held_.resize(stream.size());
        if (!held_.empty()) {
            stream.rewind();
            stream.read(held_.data(), static_cast<std::uint32_t>(held_.size()));
        }
        stream.seek(position_);
    }

    void restore() {
        stream_.clear();
        if (!held_.empty()) {
            stream_.write(held_.data(), static_cast<std::uint32_t>(held_.size()));
        }
        stream_.seek(position_);
    }

private:
    data_stream& stream_;
    std::uint32_t position_;
    std::vector<char> held_;
};

void exchange(const std::string& url, data_stream& stream, const char* headers,
              const std::string& verb, const void* body, std::uint32_t length, event_base& event,
              const answer_rules& rules) {
    const request_arguments request{url, verb, headers, body, length};
    const url_parts parts = split_url(url);
    const bool secure = parts.scheme == "https";

    platform::outgoing_request outgoing;
    outgoing.host = parts.host;
    outgoing.port = parts.port != 0 ? parts.port : (secure ? 443 : 80);
    outgoing.secure = secure;
    outgoing.verb = verb;
    outgoing.object = parts.object;
    outgoing.headers = headers != nullptr ? headers : "";
    outgoing.body = body;
    outgoing.length = body != nullptr ? length : 0;
    outgoing.agent = agent_name;
    outgoing.stall_limit_ms = stall_limit();

    const std::uint32_t start = stream.tell();
    answer_writer writer(stream, event, parts.object, rules);
    const platform::http_result result = platform::http_send(outgoing, writer);
    writer.flush();
    using outcome = platform::http_result::outcome;
    if (result.what == outcome::stopped) {
        raise_sync_error(sync_error_code::interrupted);
    }
    if (result.what == outcome::no_handle) {
        throw_if_null(nullptr, result.step, client_error{result.error, result.error_text}, request);
    }
    throw_if_false(result.what == outcome::complete, result.step, request);
    throw_if_false(writer.seen_head(), "curl_easy_getinfo", request);
    // An empty answer is no exception: "503" with nothing after it must not pass as an
    // empty file.
    if (!writer.successful()) {
        throw intl_exception("Download (" + parts.object +
                             ") failed with response: " + answer_text(stream, start));
    }
}

void exchange_with_retries(const std::string& url, data_stream& stream, const char* headers,
                           const std::string& verb, const void* body, std::uint32_t length,
                           event_base& event, const answer_rules& rules) {
    stream_start before(stream);
    retry_transfer(
        transfer_retries, event,
        [&] { exchange(url, stream, headers, verb, body, length, event, rules); },
        [&] { before.restore(); });
}

}  // namespace

void set_stall_limit(std::uint32_t milliseconds) {
    stall_limit_ms = milliseconds;
}

std::uint32_t stall_limit() {
    return stall_limit_ms;
}

void internet_request(const std::string& url, data_stream& stream, const char* headers,
                      const std::string& verb, const void* body, std::uint32_t length,
                      event_base& event, std::uint64_t max_answer) {
    exchange(url, stream, headers, verb, body, length, event, answer_rules{max_answer});
}

void http_request(const std::string& url, data_stream& stream, const char* headers,
                  const std::string& verb, const void* body, std::uint32_t length,
                  event_base& event, std::uint64_t max_answer) {
    exchange_with_retries(url, stream, headers, verb, body, length, event,
                          answer_rules{max_answer});
}

void download_file(const std::string& url, const std::string& local_path, std::uint32_t offset,
                   event_base& event) {
    log(2, "download_file: from %s to %s", url.c_str(), local_path.c_str());
    file_stream file(local_path, offset == 0 ? std::uint32_t{file_stream::create_new} : 0);
    file.seek(offset);
    exchange_with_retries(url, file, nullptr, "GET", nullptr, 0, event,
                          answer_rules{unlimited_answer, &file.file()});
    // With an offset the file is written over, not cut: a set-up file's bytes beyond the
    // download stay the unit's, as its head before the offset does.
    file.file().close();
}

void upload_file(const std::string& url, const std::string& local_path, event_base& event) {
    file_stream file(local_path, 0);
    if (!file.is_valid()) {
        throw intl_exception(std::string("upload_file upload ") + " failed. Stream is not valid.");
    }
    byte_vector content(file.size());
    file.read(content);
    memory_stream answer;
    http_request(url, answer, nullptr, "PUT", content.data(),
                 static_cast<std::uint32_t>(content.size()), event);
}

}  // namespace orvel
