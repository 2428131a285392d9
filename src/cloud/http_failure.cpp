#include "cloud/http_failure.h"

#include "base/failures.h"
#include "base/format.h"

namespace orvel {

std::string request_text(const request_arguments& request) {
    std::string text = "\r\nURL: " + request.url + "\r\nVerb: " + request.verb;
    if (request.headers != nullptr) {
        text += "\r\nHeaders: ";
        text += request.headers;
    }
    if (request.body != nullptr) {
        text += "\r\nData: ";
        text.append(static_cast<const char*>(request.body), request.length);
    }
    return text;
}

void throw_if_null(const void* handle, const std::string& operation, const client_error& error,
                   const request_arguments& request) {
    if (handle != nullptr) {
        return;
    }
    throw http_exception("throw_if_null\r\n" + operation +
                         format_text("\r\n\r\ncurl error %lu\r\n", error.number) + error.text +
                         request_text(request));
}

void throw_if_false(bool result, const std::string& operation, const request_arguments& request) {
    if (result) {
        return;
    }
    throw http_exception("throw_if_false\r\n" + operation + request_text(request));
}

}  // namespace orvel
