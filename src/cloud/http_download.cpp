#include "cloud/http_download.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/write.hpp>
#include <boost/exception/diagnostic_information.hpp>
#include <boost/system/system_error.hpp>
#include <boost/throw_exception.hpp>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <vector>

#include "app/failures.h"
#include "app/format.h"
#include "app/log_hub.h"
#include "cloud/download_answer.h"
#include "cloud/http_transport.h"
#include "cloud/retry_policy.h"
#include "cloud/url.h"
#include "platform/file_ops.h"
#include "platform/file_stream.h"

namespace orvel {

namespace {

using boost::asio::ip::tcp;
using boost::system::error_code;
using steady = std::chrono::steady_clock;

// How often a waiting step asks the event whether to stop.
constexpr std::chrono::milliseconds poll_interval(100);
// Large reads keep a fast download from spending its time in small file writes.
constexpr std::size_t read_size = 1024 * 1024;
// A head longer than this is no answer of a file store.
constexpr std::size_t max_head_size = 64 * 1024;

// The text the Boost exception library gives for the failure, which begins with the
// failure's dynamic type and its what-text ("<step>: <reason>").
[[noreturn]] void fail(const error_code& error, const char* step) {
    const boost::wrapexcept<boost::system::system_error> failure{
        boost::system::system_error(error, step)};
    throw http_exception(
        format_text("_http_download_: %s", boost::diagnostic_information(failure).c_str()));
}

// The socket steps of one download, one at a time. Each step wakes every poll_interval to
// ask the event whether to stop, and times out when it takes longer than the stall limit.
// A step answers false when the event fired; the step is then abandoned.
class download_channel {
public:
    explicit download_channel(event_base& event) : event_(event), resolver_(io_), socket_(io_) {}

    bool connect(const std::string& host, std::uint16_t port) {
        bool done = false;
        error_code error;
        tcp::resolver::results_type endpoints;
        resolver_.async_resolve(host, std::to_string(port),
                                tcp::resolver::address_configured | tcp::resolver::numeric_service,
                                [&](const error_code& result, tcp::resolver::results_type found) {
                                    error = result;
                                    endpoints = std::move(found);
                                    done = true;
                                });
        if (!finish(done, error)) {
            return false;
        }
        if (error) {
            fail(error, "resolve");
        }
        done = false;
        boost::asio::async_connect(socket_, endpoints,
                                   [&](const error_code& result, const tcp::endpoint&) {
                                       error = result;
                                       done = true;
                                   });
        if (!finish(done, error)) {
            return false;
        }
        // No endpoint took the connection: the request that follows fails on the closed
        // socket as "write", the name this failure has always had in the log.
        if (error) {
            log(3, "%s: %d. %s", "connect", error.value(), error.message().c_str());
        }
        return true;
    }

    bool write(const std::string& text) {
        bool done = false;
        error_code error;
        boost::asio::async_write(socket_, boost::asio::buffer(text),
                                 [&](const error_code& result, std::size_t) {
                                     error = result;
                                     done = true;
                                 });
        if (!finish(done, error)) {
            return false;
        }
        if (error) {
            fail(error, "write");
        }
        return true;
    }

    // Reads into text until it holds the delimiter; end is the length up to and with it.
    bool read_until(std::string& text, const char* delimiter, std::size_t& end) {
        bool done = false;
        error_code error;
        boost::asio::async_read_until(socket_, boost::asio::dynamic_buffer(text, max_head_size),
                                      delimiter, [&](const error_code& result, std::size_t count) {
                                          error = result;
                                          end = count;
                                          done = true;
                                      });
        if (!finish(done, error)) {
            return false;
        }
        if (error) {
            fail(error, "read_until");
        }
        return true;
    }

    // At least one byte; error is end-of-file when the peer closed.
    bool read_some(std::vector<char>& buffer, std::size_t& count, error_code& error) {
        bool done = false;
        socket_.async_read_some(boost::asio::buffer(buffer),
                                [&](const error_code& result, std::size_t read) {
                                    error = result;
                                    count = read;
                                    done = true;
                                });
        return finish(done, error);
    }

private:
    bool finish(const bool& done, error_code& error) {
        const auto deadline = steady::now() + std::chrono::milliseconds(stall_limit());
        io_.restart();
        while (!done) {
            io_.run_one_for(poll_interval);
            if (done) {
                break;
            }
            const bool stop = event_.wait(0);
            if (stop || steady::now() >= deadline) {
                abandon(done);
                if (stop) {
                    return false;
                }
                error = boost::asio::error::timed_out;
                return true;
            }
        }
        return true;
    }

    // Cancels the pending step and lets its handler run, so nothing refers to the caller's
    // locals afterwards.
    void abandon(const bool& done) {
        resolver_.cancel();
        error_code ignored;
        socket_.close(ignored);
        io_.restart();
        while (!done && io_.run_one() > 0) {
        }
    }

    event_base& event_;
    boost::asio::io_context io_;
    tcp::resolver resolver_;
    tcp::socket socket_;
};

}  // namespace

void http_download(const std::string& url, const std::string& local_path, event_base& event) {
    const url_parts parts = split_url(url);
    download_channel channel(event);
    if (!channel.connect(parts.host, parts.port != 0 ? parts.port : 80)) {
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
    const auto write = [&](const char* bytes, std::size_t count) {
        if (count > 0) {
            file.write(bytes, static_cast<std::uint32_t>(count));
            written += count;
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
        error_code error;
        if (!channel.read_some(buffer, count, error)) {
            return;
        }
        if (error == boost::asio::error::eof) {
            break;
        }
        if (error) {
            fail(error, "asio::read");
        }
        keep(buffer.data(), count);
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

void http_download_with_retry(const std::string& local_path, const std::string& url,
                              event_base& event) {
    backoff_record delays = transfer_retry_delays();
    for (std::uint32_t retries = 0;;) {
        try {
            http_download(url, local_path, event);
            if (event.wait(0)) {
                raise_sync_error(sync_error_code::interrupted);
            }
            return;
        } catch (const http_exception& failure) {
            platform::remove(local_path);
            if (++retries > max_transfer_retries) {
                throw;
            }
            log(3, "%s", failure.message().c_str());
            // As in http_request: stopping here must not pass the missing file on as done.
            if (event.wait(delays)) {
                raise_sync_error(sync_error_code::interrupted);
            }
        }
    }
}

}  // namespace orvel
