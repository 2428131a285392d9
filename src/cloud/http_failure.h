// The failure texts of an HTTP exchange, with the request they belong to.
#pragma once

#include <cstdint>
#include <string>

namespace orvel {

struct request_arguments {
    const std::string& url;
    const std::string& verb;
    const char* headers;  // null when there are none
    const void* body;     // null when there is none
    std::uint32_t length;
};

// The HTTP client's own number and text for a failure.
struct client_error {
    unsigned long number = 0;
    std::string text;
};

// "\r\nURL: <url>\r\nVerb: <verb>", then "\r\nHeaders: " and "\r\nData: " when present.
std::string request_text(const request_arguments& request);
// Throws http_exception "throw_if_null\r\n<operation>\r\n\r\ncurl error <n>\r\n<text>"
// and the request when handle is null.
void throw_if_null(const void* handle, const std::string& operation, const client_error& error,
                   const request_arguments& request);
// Throws http_exception "throw_if_false\r\n<operation>" and the request when result is false.
void throw_if_false(bool result, const std::string& operation, const request_arguments& request);

}  // namespace orvel
