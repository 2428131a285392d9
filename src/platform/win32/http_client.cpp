#include "platform/http_client.h"

#include <windows.h>
// wininet.h needs windows.h first.
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "base/format.h"
#include "base/log_hub.h"
#include "platform/win32/handles.h"
#include "platform/win32/message_text.h"

namespace orvel::platform {

namespace {

using steady = std::chrono::steady_clock;

// The longest a wait on the client lasts before the caller is asked whether to stop.
constexpr DWORD poll_ms = 100;
// Body pieces, read and written, are never larger than this.
constexpr DWORD buffer_size = 64 * 1024;

class internet_handle {
public:
    explicit internet_handle(HINTERNET handle = nullptr) : handle_(handle) {}
    ~internet_handle() { reset(); }
    internet_handle(const internet_handle&) = delete;
    internet_handle& operator=(const internet_handle&) = delete;

    HINTERNET get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    void reset(HINTERNET handle = nullptr) {
        if (handle_ != nullptr) {
            ::InternetCloseHandle(handle_);
        }
        handle_ = handle;
    }

private:
    HINTERNET handle_;
};

// What the client's own threads report about a request, and the memory they fill. The
// client runs in its asynchronous mode, so that every wait can stop to ask the caller.
struct completion {
    auto_handle done{::CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    std::atomic<DWORD_PTR> result{0};
    std::atomic<DWORD> error{0};
    std::vector<char> buffer = std::vector<char>(buffer_size);
    DWORD transferred = 0;
    DWORD available = 0;
};

// The states of requests whose handles are open. The client's last call for a request
// (INTERNET_STATUS_HANDLE_CLOSING) may come long after the caller has moved on: some
// clients finish a read in progress before they honour a close. A state, with the buffer
// such a read fills, goes only then.
class open_requests {
public:
    completion* add() {
        const std::lock_guard<std::mutex> lock(mutex_);
        states_.push_back(std::make_unique<completion>());
        return states_.back().get();
    }
    void remove(const completion* state) {
        const std::lock_guard<std::mutex> lock(mutex_);
        states_.erase(std::remove_if(states_.begin(), states_.end(),
                                     [state](const auto& kept) { return kept.get() == state; }),
                      states_.end());
    }

private:
    std::mutex mutex_;
    std::vector<std::unique_ptr<completion>> states_;
};

// Never destroyed: the client's threads may still report on a request while the process
// ends and its statics go.
open_requests& requests() {
    static open_requests& open = *new open_requests;
    return open;
}

void CALLBACK client_status(HINTERNET, DWORD_PTR context, DWORD status, LPVOID information, DWORD) {
    auto* state = reinterpret_cast<completion*>(context);
    if (state == nullptr) {
        return;
    }
    if (status == INTERNET_STATUS_REQUEST_COMPLETE) {
        const auto* outcome = static_cast<const INTERNET_ASYNC_RESULT*>(information);
        state->result = outcome->dwResult;
        state->error = outcome->dwError;
        ::SetEvent(state->done.get());
    } else if (status == INTERNET_STATUS_HANDLE_CLOSING) {
        requests().remove(state);
    }
}

std::string client_error_text(DWORD error) {
    std::string text = message_text(::GetModuleHandleA("wininet.dll"), error);
    return text.empty() ? message_text(nullptr, error) : text;
}

class transfer {
public:
    transfer(const outgoing_request& request, http_exchange& exchange)
        : request_(request), exchange_(exchange), state_(requests().add()) {}
    ~transfer();
    transfer(const transfer&) = delete;
    transfer& operator=(const transfer&) = delete;

    http_result run();

private:
    enum class waited { done, failed, stopped };

    bool open(http_result& result);
    bool send(http_result& result);
    bool send_body(http_result& result);
    bool deliver_head(http_result& result);
    bool read_body(http_result& result);
    // Waits for a call that may go on in the background; its failure fills the result.
    bool finish(BOOL started, const char* step, http_result& result);
    waited wait_for_completion();
    http_result failure(http_result::outcome what, const char* step, DWORD number,
                        const std::string& text);
    void moved() { last_progress_ = steady::now(); }

    const outgoing_request& request_;
    http_exchange& exchange_;
    completion* state_;  // in requests() until the request's handle has closed
    internet_handle root_;
    internet_handle connection_;
    internet_handle request_handle_;
    http_response_head head_;
    steady::time_point last_progress_;
};

transfer::~transfer() {
    if (request_handle_) {
        // The client's closing call for the request removes its state.
        request_handle_.reset();
    } else {
        requests().remove(state_);
    }
    connection_.reset();
    root_.reset();
}

http_result transfer::failure(http_result::outcome what, const char* step, DWORD number,
                              const std::string& text) {
    log(3, "%s: %lu. %s", step, static_cast<unsigned long>(number), text.c_str());
    http_result result;
    result.what = what;
    result.step = step;
    result.error = number;
    result.error_text = text;
    return result;
}

transfer::waited transfer::wait_for_completion() {
    const auto stall_limit = std::chrono::milliseconds(request_.stall_limit_ms);
    for (;;) {
        if (::WaitForSingleObject(state_->done.get(), poll_ms) == WAIT_OBJECT_0) {
            return state_->result != 0 ? waited::done : waited::failed;
        }
        if (exchange_.stop_requested()) {
            return waited::stopped;
        }
        if (steady::now() - last_progress_ > stall_limit) {
            state_->error = ERROR_INTERNET_TIMEOUT;
            return waited::failed;
        }
    }
}

bool transfer::finish(BOOL started, const char* step, http_result& result) {
    if (started != FALSE) {
        moved();
        return true;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_IO_PENDING) {
        result = failure(http_result::outcome::failed, step, error, client_error_text(error));
        return false;
    }
    switch (wait_for_completion()) {
        case waited::done:
            moved();
            return true;
        case waited::stopped:
            result = http_result{};
            result.what = http_result::outcome::stopped;
            return false;
        case waited::failed:
            break;
    }
    const DWORD error_then = state_->error;
    const std::string text = error_then == ERROR_INTERNET_TIMEOUT
                                 ? format_text("No data moved for %u ms", request_.stall_limit_ms)
                                 : client_error_text(error_then);
    result = failure(http_result::outcome::failed, step, error_then, text);
    return false;
}

bool transfer::open(http_result& result) {
    root_.reset(::InternetOpenA(request_.agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                                nullptr, INTERNET_FLAG_ASYNC));
    if (!root_) {
        const DWORD error = ::GetLastError();
        result = failure(http_result::outcome::no_handle, "InternetOpenA", error,
                         client_error_text(error));
        return false;
    }
    if (::InternetSetStatusCallbackA(root_.get(), client_status) ==
        INTERNET_INVALID_STATUS_CALLBACK) {
        const DWORD error = ::GetLastError();
        result = failure(http_result::outcome::no_handle, "InternetSetStatusCallback", error,
                         client_error_text(error));
        return false;
    }
    connection_.reset(::InternetConnectA(root_.get(), request_.host.c_str(), request_.port, nullptr,
                                         nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection_) {
        const DWORD error = ::GetLastError();
        result = failure(http_result::outcome::no_handle, "InternetConnectA", error,
                         client_error_text(error));
        return false;
    }
    // Every answer comes from the server, never from the client's cache, and none is kept
    // there: a unit's files and the service's answers change between two requests.
    DWORD flags = INTERNET_FLAG_NO_UI | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                  INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_COOKIES;
    if (request_.secure) {
        flags |= INTERNET_FLAG_SECURE;
    }
    const char* accepted[] = {"*/*", nullptr};
    request_handle_.reset(::HttpOpenRequestA(connection_.get(), request_.verb.c_str(),
                                             request_.object.c_str(), nullptr, nullptr, accepted,
                                             flags, reinterpret_cast<DWORD_PTR>(state_)));
    if (!request_handle_) {
        const DWORD error = ::GetLastError();
        result = failure(http_result::outcome::no_handle, "HttpOpenRequestA", error,
                         client_error_text(error));
        return false;
    }
    return true;
}

bool transfer::send(http_result& result) {
    const char* headers = request_.headers.empty() ? nullptr : request_.headers.c_str();
    const auto header_length = static_cast<DWORD>(request_.headers.size());
    if (request_.verb == "GET" || request_.verb == "HEAD") {
        return finish(::HttpSendRequestA(request_handle_.get(), headers, header_length, nullptr, 0),
                      "HttpSendRequestA", result);
    }
    // Every other verb carries its body, an empty one included, with its length; it goes
    // in pieces, so that a long upload can be stopped and its progress seen.
    INTERNET_BUFFERSA buffers{};
    buffers.dwStructSize = sizeof buffers;
    buffers.lpcszHeader = headers;
    buffers.dwHeadersLength = header_length;
    buffers.dwBufferTotal = request_.length;
    if (!finish(::HttpSendRequestExA(request_handle_.get(), &buffers, nullptr, 0,
                                     reinterpret_cast<DWORD_PTR>(state_)),
                "HttpSendRequestExA", result)) {
        return false;
    }
    return send_body(result) && finish(::HttpEndRequestA(request_handle_.get(), nullptr, 0,
                                                         reinterpret_cast<DWORD_PTR>(state_)),
                                       "HttpEndRequestA", result);
}

bool transfer::send_body(http_result& result) {
    const auto* body = static_cast<const char*>(request_.body);
    std::uint32_t sent = 0;
    while (body != nullptr && sent < request_.length) {
        const DWORD piece = std::min<DWORD>(buffer_size, request_.length - sent);
        // A write the client still runs after a stop must not read the caller's memory.
        std::copy(body + sent, body + sent + piece, state_->buffer.begin());
        state_->transferred = 0;
        if (!finish(::InternetWriteFile(request_handle_.get(), state_->buffer.data(), piece,
                                        &state_->transferred),
                    "InternetWriteFile", result)) {
            return false;
        }
        if (state_->transferred == 0) {
            result = failure(http_result::outcome::failed, "InternetWriteFile",
                             ERROR_INTERNET_CONNECTION_RESET,
                             client_error_text(ERROR_INTERNET_CONNECTION_RESET));
            return false;
        }
        sent += state_->transferred;
        if (exchange_.stop_requested()) {
            result = http_result{};
            result.what = http_result::outcome::stopped;
            return false;
        }
    }
    return true;
}

bool transfer::deliver_head(http_result& result) {
    DWORD status = 0;
    DWORD size = sizeof status;
    if (::HttpQueryInfoA(request_handle_.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                         &status, &size, nullptr) == FALSE) {
        const DWORD error = ::GetLastError();
        result = failure(http_result::outcome::failed, "HTTP_QUERY_STATUS_CODE", error,
                         client_error_text(error));
        return false;
    }
    head_.status = status;
    std::vector<char> text(2048);
    for (;;) {
        size = static_cast<DWORD>(text.size());
        if (::HttpQueryInfoA(request_handle_.get(), HTTP_QUERY_RAW_HEADERS_CRLF, text.data(), &size,
                             nullptr) != FALSE) {
            head_.raw_headers.assign(text.data(), size);
            break;
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER) {
            result = failure(http_result::outcome::failed, "HTTP_QUERY_RAW_HEADERS_CRLF", error,
                             client_error_text(error));
            return false;
        }
        text.resize(size + 1);
    }
    // As text: a length beyond 4 GiB does not fit the numeric form.
    char length[32] = {};
    size = sizeof length - 1;
    if (::HttpQueryInfoA(request_handle_.get(), HTTP_QUERY_CONTENT_LENGTH, length, &size,
                         nullptr) != FALSE) {
        head_.has_length = true;
        head_.content_length = std::strtoull(length, nullptr, 10);
    } else if (::GetLastError() != ERROR_HTTP_HEADER_NOT_FOUND) {
        const DWORD error = ::GetLastError();
        result = failure(http_result::outcome::failed, "HTTP_QUERY_CONTENT_LENGTH", error,
                         client_error_text(error));
        return false;
    }
    exchange_.on_head(head_);
    return true;
}

bool transfer::read_body(http_result& result) {
    std::uint64_t total = 0;
    for (;;) {
        // A read returns only once its buffer is full or the answer has ended; asking what
        // has arrived first lets a slow answer show its progress and be stopped.
        state_->available = 0;
        const BOOL known =
            ::InternetQueryDataAvailable(request_handle_.get(), &state_->available, 0, 0);
        if (!finish(known, "InternetQueryDataAvailable", result)) {
            return false;
        }
        if (known == FALSE) {
            continue;  // something has arrived in the meantime; asked again, it says how much
        }
        if (state_->available == 0) {
            break;
        }
        state_->transferred = 0;
        const DWORD wanted = std::min(state_->available, buffer_size);
        if (!finish(::InternetReadFile(request_handle_.get(), state_->buffer.data(), wanted,
                                       &state_->transferred),
                    "InternetReadFile", result)) {
            return false;
        }
        const DWORD got = state_->transferred;
        if (got == 0) {
            break;
        }
        total += got;
        exchange_.on_body(state_->buffer.data(), got);
        if (exchange_.stop_requested()) {
            result = http_result{};
            result.what = http_result::outcome::stopped;
            return false;
        }
    }
    // The connection ended before the announced length: a cut answer, not a short file.
    if (head_.has_length && total < head_.content_length && request_.verb != "HEAD") {
        result = failure(http_result::outcome::failed, "InternetReadFile",
                         ERROR_INTERNET_CONNECTION_RESET,
                         format_text("The answer ended after %llu of %llu bytes",
                                     static_cast<unsigned long long>(total),
                                     static_cast<unsigned long long>(head_.content_length)));
        return false;
    }
    return true;
}

http_result transfer::run() {
    if (!state_->done.valid()) {
        const DWORD error = ::GetLastError();
        return failure(http_result::outcome::no_handle, "CreateEvent", error,
                       message_text(nullptr, error));
    }
    last_progress_ = steady::now();
    http_result result;
    if (open(result) && send(result) && deliver_head(result) && read_body(result)) {
        return http_result{};
    }
    return result;
}

}  // namespace

http_result http_send(const outgoing_request& request, http_exchange& exchange) {
    transfer exchange_run(request, exchange);
    return exchange_run.run();
}

}  // namespace orvel::platform
