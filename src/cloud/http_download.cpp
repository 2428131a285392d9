#include "cloud/http_download.h"

#include <boost/asio/error.hpp>

#include <algorithm>
#include <cinttypes>
#include <vector>

#include "base/failures.h"
#include "base/format.h"
#include "cloud/download_answer.h"
#include "cloud/download_channel.h"
#include "cloud/retry_policy.h"
#include "cloud/url.h"
#include "platform/file_ops.h"
#include "platform/file_stream.h"
#include "platform/write_behind.h"

namespace orvel {

namespace {

// Large reads keep a fast download from spending its time in small file writes.
constexpr std::size_t read_size = 1024 * 1024;

}  // namespace

void http_download(const std::string& url, const std::string& local_path, event_base& event) {
    const url_parts parts = split_url(url);
    const bool secure = parts.scheme == "https";
    download_channel channel(event);
    if (!channel.connect(parts.host, parts.port != 0 ? parts.port : (secure ? 443 : 80))) {
        return;
    }
    if (secure && !channel.secure(parts.host)) {
        return;
    }
    const std::string request = "GET /" + parts.object + " HTTP/1.1\r\n" + "Host: " + parts.host +
                                "\r\n" + "Accept: */*\r\n" + "Connection: close\r\n\r\n";
    if (!channel.write(request)) {
        return;
    }

    std::string received;
    std::size_t line_end = 0;
    if (!channel.read_until(received, "\r\n", line_end)) {
        return;
    }
    answer_head head = parse_status_line(received.substr(0, line_end));
    std::size_t head_end = 0;
    if (!channel.read_until(received, "\r\n\r\n", head_end)) {
        return;
    }
    parse_header_lines(received.substr(line_end, head_end - line_end), head);
    // An error page written into a package would be installed as one.
    if (head.status != 200) {
        fail_download(
            format_text("HTTP status %u %s (%s)", head.status, head.reason.c_str(), url.c_str()));
    }

    file_stream file(local_path, file_stream::create_new);
    std::uint64_t written = 0;
    std::uint64_t unsynced = 0;
    const auto write = [&](const char* bytes, std::size_t count) {
        if (count == 0) {
            return;
        }
        file.write(bytes, static_cast<std::uint32_t>(count));
        written += count;
        unsynced += count;
        if (unsynced >= platform::writeback_step) {
            platform::start_writeback(file.file().handle());
            unsynced = 0;
        }
    };
    chunk_decoder chunks;
    const auto keep = [&](const char* bytes, std::size_t count) {
        if (head.chunked) {
            chunks.feed(bytes, count, write);
            return;
        }
        if (head.has_length) {
            count = static_cast<std::size_t>(
                std::min<std::uint64_t>(count, head.content_length - written));
        }
        write(bytes, count);
    };
    const auto complete = [&] {
        return head.chunked ? chunks.done() : head.has_length && written >= head.content_length;
    };
    keep(received.data() + head_end, received.size() - head_end);

    std::vector<char> buffer(read_size);
    while (!complete()) {
        if (event.wait(0)) {
            return;
        }
        std::size_t count = 0;
        boost::system::error_code error;
        if (!channel.read_some(buffer, count, error)) {
            return;
        }
        keep(buffer.data(), count);
        if (error == boost::asio::error::eof) {
            break;
        }
        if (error) {
            fail_download_step(error, "asio::read");
        }
    }
    if (head.chunked && !chunks.done()) {
        fail_download(format_text("body ended inside its chunks after %" PRIu64 " bytes (%s)",
                                  written, url.c_str()));
    }
    if (!head.chunked && head.has_length && written < head.content_length) {
        fail_download(format_text("body ended after %" PRIu64 " of %" PRIu64 " bytes (%s)", written,
                                  head.content_length, url.c_str()));
    }
    file.file().close();
}

void http_download_with_retry(const std::string& url, const std::string& local_path,
                              event_base& event) {
    retry_transfer(transfer_retries, event, [&] {
        try {
            http_download(url, local_path, event);
        } catch (const http_exception&) {
            platform::remove(local_path);
            throw;
        }
        if (event.wait(0)) {
            raise_sync_error(sync_error_code::interrupted);
        }
    });
}

}  // namespace orvel
