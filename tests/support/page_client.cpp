#include "support/page_client.h"

#include <openssl/ssl.h>
#include <rapidjson/document.h>

#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <websocketpp/client.hpp>
#include <websocketpp/config/asio_client.hpp>

#include "support/capture_logger.h"

namespace orvel::test {

namespace {

using tls_client = websocketpp::client<websocketpp::config::asio_tls_client>;
using context_ptr = std::shared_ptr<boost::asio::ssl::context>;

// Whom the client trusts: nobody checked, as a page whose member accepted the certificate,
// or the certificate in a file for the name, as a browser that has it in its store.
struct trust_setting {
    std::string certificate_file;
    std::string name;
};

context_ptr make_context(tls_version version, const trust_setting& trust) {
    namespace ssl = boost::asio::ssl;
    auto context = std::make_shared<ssl::context>(ssl::context::tls_client);
    SSL_CTX* native = context->native_handle();
    if (version == tls_version::v1_1) {
        // OpenSSL 3 only offers TLS 1.1 at security level 0; without it the client would
        // give up before the server ever saw the attempt.
        SSL_CTX_set_security_level(native, 0);
        SSL_CTX_set_cipher_list(native, "DEFAULT:@SECLEVEL=0");
        SSL_CTX_set_min_proto_version(native, TLS1_1_VERSION);
        SSL_CTX_set_max_proto_version(native, TLS1_1_VERSION);
    } else {
        SSL_CTX_set_min_proto_version(native, TLS1_2_VERSION);
        SSL_CTX_set_max_proto_version(native, TLS1_2_VERSION);
    }
    // The agent's certificate is self-signed, as on a member's machine.
    context->set_verify_mode(ssl::verify_none);
    if (!trust.certificate_file.empty()) {
        context->load_verify_file(trust.certificate_file);
        context->set_verify_mode(ssl::verify_peer);
        X509_VERIFY_PARAM* checks = SSL_CTX_get0_param(native);
        if (X509_VERIFY_PARAM_set1_ip_asc(checks, trust.name.c_str()) != 1) {
            X509_VERIFY_PARAM_set1_host(checks, trust.name.c_str(), 0);
        }
    }
    return context;
}

}  // namespace

struct page_client::impl {
    tls_client client;
    tls_version version;
    std::thread thread;
    websocketpp::connection_hdl handle;

    mutable std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> received;
    bool started = false;
    bool open = false;
    bool ended = false;
    int http_status = 0;
    std::string http_body;
    std::string failure;
    int close_code = 0;
    std::string origin;
    trust_setting trust;

    explicit impl(tls_version v) : version(v) {
        client.clear_access_channels(websocketpp::log::alevel::all);
        client.clear_error_channels(websocketpp::log::elevel::all);
        client.init_asio();
        client.set_tls_init_handler(
            [this](websocketpp::connection_hdl) { return make_context(version, trust); });
        // As browsers do: a frame's header and payload go out as two TLS records, and Nagle's
        // rule would hold the second back until the agent acknowledged the first.
        client.set_tcp_pre_init_handler([this](websocketpp::connection_hdl h) {
            boost::system::error_code ignored;
            client.get_con_from_hdl(h)->get_socket().lowest_layer().set_option(
                boost::asio::ip::tcp::no_delay(true), ignored);
        });
        client.set_open_handler([this](websocketpp::connection_hdl h) {
            std::lock_guard<std::mutex> lock(mutex);
            http_status = client.get_con_from_hdl(h)->get_response_code();
            open = true;
            changed.notify_all();
        });
        client.set_fail_handler([this](websocketpp::connection_hdl h) {
            tls_client::connection_ptr con = client.get_con_from_hdl(h);
            std::lock_guard<std::mutex> lock(mutex);
            http_status = con->get_response_code();
            http_body = con->get_response().get_body();
            failure = con->get_ec().message();
            if (con->get_transport_ec()) {
                failure += ": " + con->get_transport_ec().message();
            }
            ended = true;
            changed.notify_all();
        });
        client.set_close_handler([this](websocketpp::connection_hdl h) {
            tls_client::connection_ptr con = client.get_con_from_hdl(h);
            std::lock_guard<std::mutex> lock(mutex);
            close_code = con->get_remote_close_code();
            open = false;
            ended = true;
            changed.notify_all();
        });
        client.set_message_handler(
            [this](websocketpp::connection_hdl, tls_client::message_ptr message) {
                std::lock_guard<std::mutex> lock(mutex);
                received.push_back(message->get_payload());
                changed.notify_all();
            });
    }

    template <typename Predicate>
    bool wait(duration timeout, Predicate condition) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, timeout, condition);
    }
};

page_client::page_client(tls_version version) : impl_(std::make_unique<impl>(version)) {}

page_client::~page_client() {
    if (is_open()) {
        close(std::chrono::seconds(2));
    }
    impl_->client.stop();
    if (impl_->thread.joinable()) {
        impl_->thread.join();
    }
}

void page_client::set_origin(std::string origin) {
    impl_->origin = std::move(origin);
}

void page_client::trust_only(std::string certificate_file, std::string name) {
    impl_->trust = {std::move(certificate_file), std::move(name)};
}

bool page_client::connect(std::uint16_t port, duration timeout, const std::string& address) {
    if (impl_->started) {
        throw std::logic_error("page_client connects once");
    }
    impl_->started = true;
    websocketpp::lib::error_code ec;
    const std::string host = address.find(':') != std::string::npos ? "[" + address + "]" : address;
    const std::string uri = "wss://" + host + ":" + std::to_string(port) + "/";
    tls_client::connection_ptr con = impl_->client.get_connection(uri, ec);
    if (ec) {
        impl_->failure = ec.message();
        return false;
    }
    if (!impl_->origin.empty()) {
        con->replace_header("Origin", impl_->origin);
    }
    impl_->handle = con->get_handle();
    impl_->client.connect(con);
    impl_->thread = std::thread([this] { impl_->client.run(); });
    const bool settled = impl_->wait(timeout, [this] { return impl_->open || impl_->ended; });
    if (!settled) {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->failure = "timed out";
        return false;
    }
    return is_open();
}

void page_client::send(const std::string& text) {
    websocketpp::lib::error_code ec;
    impl_->client.send(impl_->handle, text, websocketpp::frame::opcode::text, ec);
    if (ec) {
        throw std::runtime_error("page_client send: " + ec.message());
    }
}

void page_client::close(duration timeout) {
    websocketpp::lib::error_code ec;
    impl_->client.close(impl_->handle, websocketpp::close::status::normal, "", ec);
    wait_closed(timeout);
}

bool page_client::is_open() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->open;
}

bool page_client::wait_closed(duration timeout) {
    return impl_->wait(timeout, [this] { return impl_->ended; });
}

std::vector<std::string> page_client::received() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->received;
}

std::size_t page_client::received_count() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->received.size();
}

std::vector<std::string> page_client::messages() const {
    std::vector<std::string> out;
    for (const std::string& line : received()) {
        out.push_back(message_of_line(line));
    }
    return out;
}

bool page_client::wait_for(const std::function<bool(const std::vector<std::string>&)>& condition,
                           duration timeout) {
    return impl_->wait(timeout, [&] { return condition(impl_->received); });
}

namespace {

std::optional<std::string> first_match(
    page_client& page, std::size_t from, page_client::duration timeout,
    const std::function<bool(const std::string& message)>& matches) {
    std::optional<std::string> found;
    page.wait_for(
        [&](const std::vector<std::string>& lines) {
            for (std::size_t i = from; i < lines.size(); ++i) {
                const std::string message = message_of_line(lines[i]);
                if (matches(message)) {
                    found = message;
                    return true;
                }
            }
            return false;
        },
        timeout);
    return found;
}

}  // namespace

std::optional<std::string> page_client::wait_for_message(const std::string& message,
                                                         duration timeout, std::size_t from) {
    return first_match(*this, from, timeout, [&](const std::string& m) { return m == message; });
}

std::optional<std::string> page_client::wait_for_mention(const std::string& fragment,
                                                         duration timeout, std::size_t from) {
    return first_match(*this, from, timeout,
                       [&](const std::string& m) { return m.find(fragment) != std::string::npos; });
}

std::optional<std::string> page_client::wait_for_status(int status, duration timeout,
                                                        std::size_t from) {
    return first_match(*this, from, timeout,
                       [&](const std::string& m) { return status_of(m) == status; });
}

std::optional<std::string> page_client::wait_for_final_status(duration timeout, std::size_t from) {
    return first_match(*this, from, timeout, [](const std::string& m) {
        const std::optional<int> status = status_of(m);
        return status && *status != 2 && *status != 3;
    });
}

int page_client::http_status() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->http_status;
}

std::string page_client::http_body() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->http_body;
}

std::string page_client::failure() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->failure;
}

int page_client::close_code() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->close_code;
}

std::optional<int> status_of(const std::string& data) {
    rapidjson::Document doc;
    doc.Parse(data.c_str(), data.size());
    if (doc.HasParseError() || !doc.IsObject()) {
        return std::nullopt;
    }
    const auto found = doc.FindMember("Status");
    if (found == doc.MemberEnd() || !found->value.IsInt()) {
        return std::nullopt;
    }
    return found->value.GetInt();
}

}  // namespace orvel::test
