#include "sim/test_http_server.h"

#include <openssl/evp.h>

#include <boost/algorithm/string/predicate.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/stream_traits.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/status.hpp>
#include <boost/beast/http/string_body.hpp>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <type_traits>
#include <utility>

#include "cloud/rest_request.h"

namespace orvel::test {

namespace asio = boost::asio;
namespace http = boost::beast::http;
namespace ssl = asio::ssl;
using asio::ip::tcp;
using boost::system::error_code;

// ---------------------------------------------------------------------------------------
// Replies and recorded requests

http_reply http_reply::text(unsigned status, std::string body) {
    http_reply reply;
    reply.status = status;
    reply.body = std::move(body);
    return reply;
}

http_reply http_reply::json(std::string body) {
    http_reply reply = text(200, std::move(body));
    reply.headers.emplace_back("Content-Type", "application/json");
    return reply;
}

http_reply http_reply::dropped() {
    http_reply reply;
    reply.fault = http_fault::drop;
    return reply;
}

http_reply http_reply::cut_after(std::uint64_t bytes, std::string body) {
    http_reply reply = text(200, std::move(body));
    reply.fault = http_fault::cut;
    reply.fault_after = bytes;
    return reply;
}

http_reply http_reply::stalled_after(std::uint64_t bytes, std::string body,
                                     std::chrono::milliseconds stall_for) {
    http_reply reply = text(200, std::move(body));
    reply.fault = http_fault::stall;
    reply.fault_after = bytes;
    reply.stall_for = stall_for;
    return reply;
}

http_reply http_reply::delayed(std::chrono::milliseconds delay, http_reply reply) {
    reply.delay = delay;
    return reply;
}

std::string recorded_request::header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (boost::algorithm::iequals(key, name)) {
            return value;
        }
    }
    return std::string();
}

bool recorded_request::has_header(const std::string& name) const {
    return std::any_of(headers.begin(), headers.end(), [&](const auto& entry) {
        return boost::algorithm::iequals(entry.first, name);
    });
}

// ---------------------------------------------------------------------------------------
// The reference signature

namespace {

std::string sha256(const std::string& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr) != 1) {
        throw std::runtime_error("SHA-256 failed");
    }
    return std::string(reinterpret_cast<const char*>(digest), length);
}

}  // namespace

std::string reference_base64(const std::string& bytes) {
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (std::size_t at = 0; at < bytes.size(); at += 3) {
        const std::size_t left = std::min<std::size_t>(3, bytes.size() - at);
        std::uint32_t group = 0;
        for (std::size_t i = 0; i < 3; ++i) {
            const std::uint8_t byte = i < left ? static_cast<std::uint8_t>(bytes[at + i]) : 0;
            group = (group << 8) | byte;
        }
        for (std::size_t i = 0; i < 4; ++i) {
            text += i <= left ? alphabet[(group >> (18 - 6 * i)) & 0x3F] : '=';
        }
    }
    return text;
}

std::string reference_hmac_sha256(const std::string& key, const std::string& message) {
    constexpr std::size_t block = 64;  // SHA-256's block length, B of RFC 2104
    std::string k = key.size() > block ? sha256(key) : key;
    k.resize(block, '\0');
    std::string inner_key = k;
    std::string outer_key = k;
    for (std::size_t i = 0; i < block; ++i) {
        inner_key[i] = static_cast<char>(inner_key[i] ^ 0x36);
        outer_key[i] = static_cast<char>(outer_key[i] ^ 0x5C);
    }
    return sha256(outer_key + sha256(inner_key + message));
}

std::string reference_signature(const std::string& secret, const std::string& string_to_sign) {
    std::string text = reference_base64(reference_hmac_sha256(secret, string_to_sign));
    std::string signature;
    for (const char c : text) {
        if (c == '/') {
            signature += '_';
        } else if (c == '+') {
            signature += '-';
        } else if (c != '=') {
            signature += c;
        }
    }
    return signature;
}

std::optional<std::chrono::system_clock::time_point> parse_request_timestamp(
    const std::string& text) {
    if (text.size() != 17 || text.compare(12, 5, "+0000") != 0 ||
        !std::all_of(text.begin(), text.begin() + 12,
                     [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    const auto field = [&](std::size_t at) { return std::stoi(text.substr(at, 2)); };
    const int year = 2000 + field(0);
    const unsigned month = static_cast<unsigned>(field(2));
    const unsigned day = static_cast<unsigned>(field(4));
    if (month < 1 || month > 12 || day < 1 || day > 31 || field(6) > 23 || field(8) > 59 ||
        field(10) > 59) {
        return std::nullopt;
    }
    // Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = y / 400;
    const unsigned year_of_era = static_cast<unsigned>(y - era * 400);
    const unsigned day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    const long days = static_cast<long>(era) * 146097 + static_cast<long>(day_of_era) - 719468;
    const long seconds = days * 86400 + field(6) * 3600 + field(8) * 60 + field(10);
    return std::chrono::system_clock::time_point(std::chrono::seconds(seconds));
}

// ---------------------------------------------------------------------------------------
// The server

class test_http_server::impl {
public:
    impl(std::uint16_t port, const tls_files* tls);
    ~impl();

    std::uint16_t port() const { return port_; }
    bool secure() const { return tls_ != nullptr; }
    http_reply dispatch(recorded_request& request);

    void add_rule(const std::string& path, bool prefix, http_handler handler) {
        std::lock_guard<std::mutex> lock(mutex_);
        (prefix ? prefixes_ : exact_)[path] = std::move(handler);
    }
    void keep_put(const std::string& path, const std::string& body) {
        std::lock_guard<std::mutex> lock(mutex_);
        puts_[path] = body;
    }

    mutable std::mutex mutex_;
    std::map<std::string, http_handler> exact_;
    std::map<std::string, http_handler> prefixes_;
    std::map<std::string, std::string> puts_;
    std::vector<recorded_request> records_;
    std::string app_key_ = application_key;
    std::string app_secret_ = application_secret;
    std::map<std::string, std::string> users_;
    std::optional<std::chrono::seconds> timestamp_window_;
    http_observer observer_;
    bool keep_records_ = true;

private:
    void accept();
    void check_signature(recorded_request& request) const;
    http_reply answer(recorded_request& request);

    // Declared after the state above so that the sessions the context still owns go
    // before it.
    asio::io_context io_;
    std::unique_ptr<ssl::context> tls_;
    tcp::acceptor acceptor_;
    std::uint16_t port_ = 0;
    std::thread thread_;
};

namespace {

// One connection: one request, one answer, then the connection closes. Stream is a TCP
// socket or a TLS stream over one.
template <typename Stream>
class session : public std::enable_shared_from_this<session<Stream>> {
    static constexpr bool secure = !std::is_same_v<Stream, tcp::socket>;

public:
    session(Stream stream, test_http_server::impl& server)
        : stream_(std::move(stream)), server_(server), timer_(stream_.get_executor()) {
        parser_.body_limit(std::uint64_t{1} << 32);
    }

    void start() {
        if constexpr (secure) {
            stream_.async_handshake(ssl::stream_base::server,
                                    [self = this->shared_from_this()](const error_code& error) {
                                        if (!error) {
                                            self->read_head();
                                        } else {
                                            self->close();
                                        }
                                    });
        } else {
            read_head();
        }
    }

private:
    void read_head() {
        asio::async_read_until(
            stream_, asio::dynamic_buffer(raw_, 64 * 1024), "\r\n\r\n",
            [self = this->shared_from_this()](const error_code& error, std::size_t length) {
                self->on_head(error, length);
            });
    }

    void on_head(const error_code& error, std::size_t length) {
        if (error) {
            return;
        }
        head_length_ = length;
        // The parser reads what already arrived before it asks the socket for more.
        const auto room = buffer_.prepare(raw_.size());
        std::memcpy(room.data(), raw_.data(), raw_.size());
        buffer_.commit(raw_.size());
        http::async_read(stream_, buffer_, parser_,
                         [self = this->shared_from_this()](const error_code& failure, std::size_t) {
                             self->on_request(failure);
                         });
    }

    void on_request(const error_code& error) {
        if (error) {
            return;
        }
        const auto& message = parser_.get();
        recorded_request request;
        request.method = std::string(message.method_string());
        request.target = std::string(message.target());
        request.path = request.target.substr(0, request.target.find('?'));
        request.raw_head = raw_.substr(0, head_length_);
        for (const auto& field : message) {
            request.headers.emplace_back(std::string(field.name_string()),
                                         std::string(field.value()));
        }
        request.body = message.body();
        answer(server_.dispatch(request));
    }

    void answer(http_reply reply) {
        reply_ = std::move(reply);
        if (reply_.delay.count() > 0) {
            timer_.expires_after(std::exchange(reply_.delay, std::chrono::milliseconds(0)));
            timer_.async_wait([self = this->shared_from_this()](const error_code&) {
                self->answer(std::move(self->reply_));
            });
            return;
        }
        if (reply_.fault == http_fault::drop) {
            close();
            return;
        }
        std::uint64_t body_size = reply_.body.size();
        if (!reply_.file.empty()) {
            file_.open(reply_.file, std::ios::binary);
            file_.seekg(0, std::ios::end);
            if (!file_) {
                reply_ = http_reply::text(500, "cannot read " + reply_.file);
                body_size = reply_.body.size();
            } else {
                body_size = static_cast<std::uint64_t>(file_.tellg());
                file_.seekg(0);
                reply_.body.clear();
            }
        }
        to_send_ =
            reply_.fault == http_fault::none ? body_size : std::min(reply_.fault_after, body_size);

        head_ = "HTTP/1.1 " + std::to_string(reply_.status) + " " +
                std::string(http::obsolete_reason(http::int_to_status(reply_.status))) + "\r\n";
        for (const auto& [name, value] : reply_.headers) {
            head_ += name + ": " + value + "\r\n";
        }
        if (reply_.send_length) {
            head_ +=
                "Content-Length: " + std::to_string(reply_.content_length.value_or(body_size)) +
                "\r\n";
        }
        head_ += "Connection: close\r\n\r\n";
        asio::async_write(stream_, asio::buffer(head_),
                          [self = this->shared_from_this()](const error_code& error, std::size_t) {
                              self->on_sent(error, 0);
                          });
    }

    void send_more() {
        const std::uint64_t left = to_send_ - sent_;
        if (left == 0) {
            finish();
            return;
        }
        // Large pieces keep a loopback download limited by the client, not by this server.
        const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(left, 1 << 20));
        asio::const_buffer out;
        if (file_.is_open()) {
            chunk_.resize(piece);
            file_.read(chunk_.data(), static_cast<std::streamsize>(piece));
            const auto got = static_cast<std::size_t>(file_.gcount());
            if (got == 0) {
                close();
                return;
            }
            out = asio::buffer(chunk_.data(), got);
        } else {
            out = asio::buffer(reply_.body.data() + sent_, piece);
        }
        asio::async_write(
            stream_, out,
            [self = this->shared_from_this()](const error_code& error, std::size_t count) {
                self->on_sent(error, count);
            });
    }

    void on_sent(const error_code& error, std::size_t count) {
        if (error) {
            close();
            return;
        }
        sent_ += count;
        send_more();
    }

    void finish() {
        if (reply_.fault == http_fault::none) {
            end();
            return;
        }
        if (reply_.fault != http_fault::stall) {
            close();
            return;
        }
        timer_.expires_after(reply_.stall_for);
        timer_.async_wait([self = this->shared_from_this()](const error_code&) { self->close(); });
    }

    // A whole answer ends with TLS's own end (close_notify), so that a body without a
    // length is known to be complete; a faulty one just stops.
    void end() {
        if constexpr (secure) {
            stream_.async_shutdown(
                [self = this->shared_from_this()](const error_code&) { self->close(); });
        } else {
            close();
        }
    }

    void close() {
        error_code ignored;
        auto& socket = boost::beast::get_lowest_layer(stream_);
        socket.shutdown(tcp::socket::shutdown_both, ignored);
        socket.close(ignored);
    }

    Stream stream_;
    test_http_server::impl& server_;
    asio::steady_timer timer_;
    std::string raw_;
    std::size_t head_length_ = 0;
    boost::beast::flat_buffer buffer_;
    http::request_parser<http::string_body> parser_;

    http_reply reply_;
    std::string head_;
    std::ifstream file_;
    std::vector<char> chunk_;
    std::uint64_t to_send_ = 0;
    std::uint64_t sent_ = 0;
};

}  // namespace

test_http_server::impl::impl(std::uint16_t port, const tls_files* tls)
    : acceptor_(io_, tcp::endpoint(asio::ip::make_address("127.0.0.1"), port)) {
    if (tls != nullptr) {
        tls_ = std::make_unique<ssl::context>(ssl::context::tls_server);
        tls_->use_certificate_chain_file(tls->certificate);
        tls_->use_private_key_file(tls->key, ssl::context::pem);
    }
    port_ = acceptor_.local_endpoint().port();
    accept();
    thread_ = std::thread([this] { io_.run(); });
}

test_http_server::impl::~impl() {
    io_.stop();
    thread_.join();
}

void test_http_server::impl::accept() {
    acceptor_.async_accept([this](const error_code& error, tcp::socket socket) {
        if (error) {
            return;
        }
        if (tls_) {
            using tls_stream = ssl::stream<tcp::socket>;
            std::make_shared<session<tls_stream>>(tls_stream(std::move(socket), *tls_), *this)
                ->start();
        } else {
            std::make_shared<session<tcp::socket>>(std::move(socket), *this)->start();
        }
        accept();
    });
}

void test_http_server::impl::check_signature(recorded_request& request) const {
    const std::string prefix = "/rest/action/";
    if (request.path.compare(0, prefix.size(), prefix) != 0) {
        return;
    }
    request.verdict = signature_verdict::invalid;
    request.refusal = "Malformed request path";
    std::vector<std::string> parts;
    std::size_t start = prefix.size();
    for (;;) {
        const std::size_t slash = request.path.find('/', start);
        parts.push_back(request.path.substr(start, slash - start));
        if (slash == std::string::npos) {
            break;
        }
        start = slash + 1;
    }
    // <action>/<app_key>/<user_key>/1.0/2.0/HmacSHA256/<signature>/<timestamp>/JSON
    if (parts.size() != 9 || parts[3] != "1.0" || parts[4] != "2.0" || parts[5] != "HmacSHA256" ||
        parts[8] != "JSON") {
        return;
    }
    request.action = parts[0];
    request.app_key = parts[1];
    request.user_key = parts[2];
    request.signature = parts[6];
    request.timestamp = parts[7];
    const auto user = users_.find(request.user_key);
    if (request.app_key != app_key_) {
        request.refusal = "Unknown application key";
        return;
    }
    if (user == users_.end()) {
        request.refusal = "Unknown user key";
        return;
    }
    const std::string to_sign = request.action + "/" + request.app_key + "/" + request.user_key +
                                "/1.0/2.0/HmacSHA256/" + request.timestamp + "/JSON";
    request.expected_signature = reference_signature(app_secret_ + user->second, to_sign);
    if (request.signature != request.expected_signature) {
        request.refusal = "Invalid signature";
        return;
    }
    if (timestamp_window_) {
        const auto when = parse_request_timestamp(request.timestamp);
        const auto now = std::chrono::system_clock::now();
        if (!when || *when < now - *timestamp_window_ || *when > now + *timestamp_window_) {
            request.refusal = "Timestamp out of range";
            return;
        }
    }
    request.refusal.clear();
    request.verdict = signature_verdict::valid;
}

http_reply test_http_server::impl::dispatch(recorded_request& request) {
    http_reply reply = answer(request);
    http_observer observer;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        observer = observer_;
    }
    if (observer) {
        observer(request, reply);
    }
    return reply;
}

http_reply test_http_server::impl::answer(recorded_request& request) {
    http_handler handler;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        check_signature(request);
        if (keep_records_) {
            records_.push_back(request);
        }
        if (request.verdict == signature_verdict::invalid) {
            http_reply refused = http_reply::json(
                "{\"Status\":401,\"ErrorMessage\":\"" + request.refusal +
                "\",\"ErrorDetails\":{\"expected\":\"" + request.expected_signature + "\"}}");
            refused.status = 401;
            return refused;
        }
        const auto exact = exact_.find(request.path);
        if (exact != exact_.end()) {
            handler = exact->second;
        } else {
            std::size_t longest = 0;
            for (const auto& [prefix, candidate] : prefixes_) {
                if (request.path.compare(0, prefix.size(), prefix) == 0 &&
                    prefix.size() >= longest) {
                    longest = prefix.size();
                    handler = candidate;
                }
            }
        }
    }
    if (!handler) {
        return http_reply::text(404, "no script for " + request.path);
    }
    return handler(request);
}

// ---------------------------------------------------------------------------------------
// The public face

test_http_server::test_http_server(std::uint16_t port)
    : impl_(std::make_unique<impl>(port, nullptr)) {}

test_http_server::test_http_server(const tls_files& tls, std::uint16_t port)
    : impl_(std::make_unique<impl>(port, &tls)) {}

test_http_server::~test_http_server() = default;

std::uint16_t test_http_server::port() const {
    return impl_->port();
}

std::string test_http_server::host() const {
    return "127.0.0.1:" + std::to_string(port());
}

std::string test_http_server::url(const std::string& target) const {
    return (impl_->secure() ? "https://" : "http://") + host() + target;
}

void test_http_server::reply(const std::string& path, http_reply reply) {
    impl_->add_rule(path, false, [reply](const recorded_request&) { return reply; });
}

void test_http_server::reply_sequence(const std::string& path, std::vector<http_reply> replies) {
    if (replies.empty()) {
        throw std::invalid_argument("reply_sequence needs a reply");
    }
    auto next = std::make_shared<std::size_t>(0);
    impl_->add_rule(path, false, [replies = std::move(replies), next](const recorded_request&) {
        const std::size_t at = std::min(*next, replies.size() - 1);
        ++*next;
        return replies[at];
    });
}

void test_http_server::fail_first(const std::string& path, unsigned count, http_reply failure,
                                  http_reply reply) {
    std::vector<http_reply> replies(count, failure);
    replies.push_back(std::move(reply));
    reply_sequence(path, std::move(replies));
}

void test_http_server::handle(const std::string& path, http_handler handler) {
    impl_->add_rule(path, false, std::move(handler));
}

void test_http_server::handle_prefix(const std::string& prefix, http_handler handler) {
    impl_->add_rule(prefix, true, std::move(handler));
}

void test_http_server::serve_file(const std::string& path, const std::string& local_path) {
    http_reply reply;
    reply.file = local_path;
    this->reply(path, std::move(reply));
}

void test_http_server::accept_put(const std::string& path, http_reply reply) {
    impl* server = impl_.get();
    impl_->add_rule(path, false, [server, path, reply](const recorded_request& request) {
        if (request.method != "PUT") {
            return http_reply::text(405, "only PUT here");
        }
        server->keep_put(path, request.body);
        return reply;
    });
}

std::optional<std::string> test_http_server::put_body(const std::string& path) const {
    std::lock_guard<std::mutex> lock(impl_->mutex_);
    const auto found = impl_->puts_.find(path);
    if (found == impl_->puts_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void test_http_server::reply_rest(const std::string& action, http_reply reply) {
    handle_rest(action, [reply](const recorded_request&) { return reply; });
}

void test_http_server::handle_rest(const std::string& action, http_handler handler) {
    handle_prefix("/rest/action/" + action + "/", std::move(handler));
}

void test_http_server::set_application(const std::string& key, const std::string& secret) {
    std::lock_guard<std::mutex> lock(impl_->mutex_);
    impl_->app_key_ = key;
    impl_->app_secret_ = secret;
}

void test_http_server::add_user(const std::string& user_key, const std::string& user_secret) {
    std::lock_guard<std::mutex> lock(impl_->mutex_);
    impl_->users_[user_key] = user_secret;
}

void test_http_server::set_timestamp_window(std::chrono::seconds window) {
    std::lock_guard<std::mutex> lock(impl_->mutex_);
    impl_->timestamp_window_ = window;
}

void test_http_server::observe(http_observer observer) {
    std::lock_guard<std::mutex> lock(impl_->mutex_);
    impl_->observer_ = std::move(observer);
}

void test_http_server::keep_records(bool keep) {
    std::lock_guard<std::mutex> lock(impl_->mutex_);
    impl_->keep_records_ = keep;
}

std::vector<recorded_request> test_http_server::requests() const {
    std::lock_guard<std::mutex> lock(impl_->mutex_);
    return impl_->records_;
}

std::vector<recorded_request> test_http_server::requests_to(const std::string& path) const {
    std::vector<recorded_request> found;
    for (const recorded_request& request : requests()) {
        if (request.path == path) {
            found.push_back(request);
        }
    }
    return found;
}

std::size_t test_http_server::count(const std::string& prefix) const {
    const auto all = requests();
    return static_cast<std::size_t>(
        std::count_if(all.begin(), all.end(), [&](const recorded_request& request) {
            return request.path.compare(0, prefix.size(), prefix) == 0;
        }));
}

void test_http_server::clear_requests() {
    std::lock_guard<std::mutex> lock(impl_->mutex_);
    impl_->records_.clear();
}

}  // namespace orvel::test
