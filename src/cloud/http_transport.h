// HTTP exchanges with the cloud service and its file store.
#pragma once

#include <cstdint>
#include <string>

#include "base/events.h"
#include "platform/data_stream.h"

namespace orvel {

// An answer body may be this long unless the caller says less.
inline constexpr std::uint64_t unlimited_answer = UINT64_MAX;

// One exchange; the body is written into the stream at its position. It succeeds only with
// a 200 answer whose body came whole: as long as announced, or to the end of its chunks.
// Throws http_exception for transport failures (a short body included), intl_exception for
// an answer other than 200 and for a body longer than max_answer (refused before it is
// read, when its length is announced), and extl_exception 1500 when the event fires during
// the body.
void internet_request(const std::string& url, data_stream& stream, const char* headers,
                      const std::string& verb, const void* body, std::uint32_t length,
                      event_base& event, std::uint64_t max_answer = unlimited_answer);
// internet_request with up to three retries of transport failures (5, 10, 15 s on the
// event). Every try starts from what the stream held before the first, so that it ends
// with exactly one answer in it.
void http_request(const std::string& url, data_stream& stream, const char* headers,
                  const std::string& verb, const void* body, std::uint32_t length,
                  event_base& event, std::uint64_t max_answer = unlimited_answer);
// GET into a file from offset on (0: created or truncated); the file's bytes beyond the
// body stay.
void download_file(const std::string& url, const std::string& local_path, std::uint32_t offset,
                   event_base& event);
// PUT of a file's whole content.
void upload_file(const std::string& url, const std::string& local_path, event_base& event);

// A transfer that moves no byte for this long fails in transport, and is retried.
inline constexpr std::uint32_t default_stall_limit_ms = 30000;
// For every transfer that starts afterwards, the plain-socket download included; tests
// shorten it.
void set_stall_limit(std::uint32_t milliseconds);
std::uint32_t stall_limit();

}  // namespace orvel
