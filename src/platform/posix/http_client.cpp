#include "platform/http_client.h"

#include <curl/curl.h>
#include <openssl/ssl.h>

#include <chrono>
#include <exception>
#include <memory>

#include "base/format.h"
#include "base/log_hub.h"

namespace orvel::platform {

namespace {

using steady = std::chrono::steady_clock;

// The longest the transfer loop sleeps before it asks whether to stop.
constexpr long poll_ms = 100;
// Body pieces handed to the caller are never larger than this.
constexpr long buffer_size = 64 * 1024;

struct easy_release {
    void operator()(CURL* handle) const noexcept { curl_easy_cleanup(handle); }
};
struct multi_release {
    void operator()(CURLM* handle) const noexcept { curl_multi_cleanup(handle); }
};
struct list_release {
    void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};
using easy_handle = std::unique_ptr<CURL, easy_release>;
using multi_handle = std::unique_ptr<CURLM, multi_release>;
using header_list = std::unique_ptr<curl_slist, list_release>;

// libcurl's process-wide set-up must run once before the first handle and never twice at a
// time; a function-local static gives both.
void init_curl_once() {
    static const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
    static_cast<void>(result);  // a failed set-up shows as a null handle next
}

// Keeps the easy handle inside the multi handle while the transfer runs.
class attachment {
public:
    attachment(CURLM* multi, CURL* easy) : multi_(multi), easy_(easy) {}
    ~attachment() {
        if (attached_) {
            curl_multi_remove_handle(multi_, easy_);
        }
    }
    attachment(const attachment&) = delete;
    attachment& operator=(const attachment&) = delete;

    CURLMcode attach() {
        const CURLMcode code = curl_multi_add_handle(multi_, easy_);
        attached_ = code == CURLM_OK;
        return code;
    }

private:
    CURLM* multi_;
    CURL* easy_;
    bool attached_ = false;
};

bool names_header(const std::string& headers, const std::string& name) {
    std::string lower;
    for (const char c : headers) {
        lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    const std::string wanted = name + ":";
    std::size_t line = 0;
    while (line < lower.size()) {
        if (lower.compare(line, wanted.size(), wanted) == 0) {
            return true;
        }
        const std::size_t end = lower.find('\n', line);
        if (end == std::string::npos) {
            break;
        }
        line = end + 1;
    }
    return false;
}

class transfer {
public:
    transfer(const outgoing_request& request, http_exchange& exchange)
        : request_(request), exchange_(exchange) {}

    http_result run();

private:
    static std::size_t header_arrived(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t body_arrived(char* data, std::size_t size, std::size_t count, void* self);
    static int progress(void* self, curl_off_t, curl_off_t downloaded, curl_off_t,
                        curl_off_t uploaded);
    static CURLcode tls_context(CURL* easy, void* context, void* self);

    bool build_headers();
    CURLcode set_options();
    void deliver_head();
    http_result failure(http_result::outcome what, const char* step, unsigned long number,
                        const std::string& text);
    std::string error_text(CURLcode code) const;

    const outgoing_request& request_;
    http_exchange& exchange_;
    easy_handle easy_;
    header_list headers_;
    std::string url_;
    char error_buffer_[CURL_ERROR_SIZE] = {};

    std::string head_lines_;
    bool head_delivered_ = false;
    std::exception_ptr thrown_;
    steady::time_point last_progress_;
    curl_off_t downloaded_ = 0;
    curl_off_t uploaded_ = 0;
};

std::size_t transfer::header_arrived(char* data, std::size_t size, std::size_t count, void* self) {
    auto& me = *static_cast<transfer*>(self);
    const std::size_t bytes = size * count;
    me.last_progress_ = steady::now();
    // Interim answers (100 Continue) and followed redirects each start a new head; only the
    // final one is handed on.
    if (bytes >= 5 && std::string(data, 5) == "HTTP/") {
        me.head_lines_.clear();
    }
    me.head_lines_.append(data, bytes);
    return bytes;
}

std::size_t transfer::body_arrived(char* data, std::size_t size, std::size_t count, void* self) {
    auto& me = *static_cast<transfer*>(self);
    const std::size_t bytes = size * count;
    me.last_progress_ = steady::now();
    try {
        me.deliver_head();
        me.exchange_.on_body(data, bytes);
    } catch (...) {
        me.thrown_ = std::current_exception();
        return 0;  // libcurl ends the transfer with a write error
    }
    return bytes;
}

int transfer::progress(void* self, curl_off_t, curl_off_t downloaded, curl_off_t,
                       curl_off_t uploaded) {
    auto& me = *static_cast<transfer*>(self);
    if (downloaded != me.downloaded_ || uploaded != me.uploaded_) {
        me.downloaded_ = downloaded;
        me.uploaded_ = uploaded;
        me.last_progress_ = steady::now();
    }
    return 0;
}

CURLcode transfer::tls_context(CURL*, void* context, void*) {
    // The system's store is what OpenSSL's own default places name: the distribution's
    // bundle, or SSL_CERT_FILE and SSL_CERT_DIR where they are set, as for the plain-socket
    // download and every other OpenSSL client of the system.
    SSL_CTX_set_default_verify_paths(static_cast<SSL_CTX*>(context));
    return CURLE_OK;
}

void transfer::deliver_head() {
    if (head_delivered_) {
        return;
    }
    head_delivered_ = true;
    http_response_head head;
    long status = 0;
    if (curl_easy_getinfo(easy_.get(), CURLINFO_RESPONSE_CODE, &status) == CURLE_OK) {
        head.status = static_cast<unsigned>(status);
    }
    curl_off_t length = -1;
    if (curl_easy_getinfo(easy_.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK &&
        length >= 0) {
        head.has_length = true;
        head.content_length = static_cast<std::uint64_t>(length);
    }
    head.raw_headers = head_lines_;
    exchange_.on_head(head);
}

bool transfer::build_headers() {
    const auto append = [this](const std::string& line) {
        curl_slist* longer = curl_slist_append(headers_.get(), line.c_str());
        if (longer == nullptr) {
            return false;
        }
        headers_.release();
        headers_.reset(longer);
        return true;
    };
    std::size_t start = 0;
    const std::string& text = request_.headers;
    while (start < text.size()) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            end = text.size();
        }
        if (end > start && !append(text.substr(start, end - start))) {
            return false;
        }
        start = end + 2;
    }
    // Without this libcurl holds large bodies back for a second waiting on servers that
    // never send "100 Continue".
    if (!append("Expect:")) {
        return false;
    }
    // libcurl would label every body as a form; a body is sent as the caller labelled it
    // or not labelled at all.
    if (request_.verb != "GET" && request_.verb != "HEAD" &&
        !names_header(request_.headers, "content-type") && !append("Content-Type:")) {
        return false;
    }
    return true;
}

CURLcode transfer::set_options() {
    CURL* easy = easy_.get();
    CURLcode result = CURLE_OK;
    const auto check = [&result](CURLcode code) {
        if (result == CURLE_OK) {
            result = code;
        }
    };
    url_ = (request_.secure ? "https://" : "http://") + request_.host + ":" +
           std::to_string(request_.port) + "/" + request_.object;
    check(curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, error_buffer_));
    check(curl_easy_setopt(easy, CURLOPT_URL, url_.c_str()));
    check(curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https"));
    check(curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https"));
    check(curl_easy_setopt(easy, CURLOPT_USERAGENT, request_.agent.c_str()));
    check(curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1)));
    // The file store hands out redirects; the system's own client follows them too.
    check(curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L));
    check(curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L));
    // Several threads may run transfers; signals would reach the wrong one.
    check(curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L));
    check(curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, buffer_size));
    check(curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers_.get()));
    check(curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &transfer::header_arrived));
    check(curl_easy_setopt(easy, CURLOPT_HEADERDATA, this));
    check(curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &transfer::body_arrived));
    check(curl_easy_setopt(easy, CURLOPT_WRITEDATA, this));
    check(curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &transfer::progress));
    check(curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this));
    check(curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L));
    if (request_.secure) {
        const CURLcode hooked =
            curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &transfer::tls_context);
        if (hooked == CURLE_OK) {
            // Instead of the bundle libcurl was built with, which it would read on every
            // transfer besides: the same certificates, unless the places are set elsewhere.
            check(curl_easy_setopt(easy, CURLOPT_CAINFO, nullptr));
            check(curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr));
        } else if (hooked != CURLE_NOT_BUILT_IN && hooked != CURLE_UNKNOWN_OPTION) {
            // A libcurl on another TLS library has no such hook and keeps its own store.
            check(hooked);
        }
    }

    if (request_.verb == "GET") {
        check(curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L));
    } else if (request_.verb == "HEAD") {
        check(curl_easy_setopt(easy, CURLOPT_NOBODY, 1L));
    } else {
        // Every other verb carries its body, an empty one included, with its length.
        static const char nothing[] = "";
        const void* body = request_.body != nullptr ? request_.body : nothing;
        check(curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                               static_cast<curl_off_t>(request_.length)));
        check(curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body));
        if (request_.verb != "POST") {
            check(curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request_.verb.c_str()));
        }
    }
    return result;
}

std::string transfer::error_text(CURLcode code) const {
    return error_buffer_[0] != '\0' ? std::string(error_buffer_)
                                    : std::string(curl_easy_strerror(code));
}

http_result transfer::failure(http_result::outcome what, const char* step, unsigned long number,
                              const std::string& text) {
    log(3, "%s: %lu. %s", step, number, text.c_str());
    http_result result;
    result.what = what;
    result.step = step;
    result.error = number;
    result.error_text = text;
    return result;
}

http_result transfer::run() {
    init_curl_once();
    easy_.reset(curl_easy_init());
    if (!easy_) {
        return failure(http_result::outcome::no_handle, "curl_easy_init", CURLE_FAILED_INIT,
                       curl_easy_strerror(CURLE_FAILED_INIT));
    }
    if (!build_headers()) {
        return failure(http_result::outcome::no_handle, "curl_slist_append", CURLE_OUT_OF_MEMORY,
                       curl_easy_strerror(CURLE_OUT_OF_MEMORY));
    }
    const CURLcode options = set_options();
    if (options != CURLE_OK) {
        return failure(http_result::outcome::failed, "curl_easy_setopt", options,
                       error_text(options));
    }
    const multi_handle multi(curl_multi_init());
    if (!multi) {
        return failure(http_result::outcome::no_handle, "curl_multi_init", CURLE_FAILED_INIT,
                       curl_easy_strerror(CURLE_FAILED_INIT));
    }
    attachment attached(multi.get(), easy_.get());
    CURLMcode code = attached.attach();
    if (code != CURLM_OK) {
        return failure(http_result::outcome::failed, "curl_multi_add_handle", code,
                       curl_multi_strerror(code));
    }

    // The multi interface lets the loop wake every poll_ms to ask about stopping without
    // slowing a running transfer: the poll returns as soon as the socket has data.
    const auto stall_limit = std::chrono::milliseconds(request_.stall_limit_ms);
    last_progress_ = steady::now();
    int running = 1;
    for (;;) {
        code = curl_multi_perform(multi.get(), &running);
        if (code != CURLM_OK) {
            return failure(http_result::outcome::failed, "curl_multi_perform", code,
                           curl_multi_strerror(code));
        }
        if (thrown_ || running == 0) {
            break;
        }
        if (exchange_.stop_requested()) {
            http_result stopped;
            stopped.what = http_result::outcome::stopped;
            return stopped;
        }
        if (steady::now() - last_progress_ > stall_limit) {
            return failure(http_result::outcome::failed, "curl_multi_perform",
                           CURLE_OPERATION_TIMEDOUT,
                           format_text("No data moved for %u ms", request_.stall_limit_ms));
        }
        code = curl_multi_poll(multi.get(), nullptr, 0, static_cast<int>(poll_ms), nullptr);
        if (code != CURLM_OK) {
            return failure(http_result::outcome::failed, "curl_multi_poll", code,
                           curl_multi_strerror(code));
        }
    }
    if (thrown_) {
        std::rethrow_exception(thrown_);
    }

    CURLcode done = CURLE_OK;
    int left = 0;
    while (const CURLMsg* message = curl_multi_info_read(multi.get(), &left)) {
        if (message->msg == CURLMSG_DONE) {
            done = message->data.result;
        }
    }
    if (done != CURLE_OK) {
        return failure(http_result::outcome::failed, "curl_multi_perform", done, error_text(done));
    }
    deliver_head();
    return http_result{};
}

}  // namespace

http_result http_send(const outgoing_request& request, http_exchange& exchange) {
    transfer exchange_run(request, exchange);
    return exchange_run.run();
}

}  // namespace orvel::platform
