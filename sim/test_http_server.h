// An HTTP/1.1 server for tests, in the test process, on 127.0.0.1 with a port the system
// picks, plain or over TLS. It answers what a test scripts per path, records every request, serves
// files, keeps what is PUT, misbehaves on request (drops, stalls, short bodies) and checks the
// signature of every REST path with its own code. The development cloud
// (tools/devcloud) is built on it too, so it needs nothing of the test framework.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orvel::test {

// How an answer goes wrong on purpose.
enum class http_fault {
    none,
    drop,   // close the connection without answering
    cut,    // announce the whole body, send fault_after bytes of it, close
    stall,  // announce the whole body, send fault_after bytes of it, then hold the
            // connection silent for stall_for before closing it
};

struct http_reply {
    unsigned status = 200;
    std::string body;
    // Sent as given, besides Content-Length and "Connection: close", which the server adds.
    std::vector<std::pair<std::string, std::string>> headers;
    // Announced instead of the body's size (a longer one makes the answer short).
    std::optional<std::uint64_t> content_length;
    // False: no Content-Length at all; the body ends when the connection closes.
    bool send_length = true;
    // The body is this file's content, read when the answer goes out.
    std::string file;
    http_fault fault = http_fault::none;
    std::uint64_t fault_after = 0;
    std::chrono::milliseconds stall_for = std::chrono::hours(1);
    // How long the server waits before it answers at all: a slow service.
    std::chrono::milliseconds delay{0};

    static http_reply text(unsigned status, std::string body);
    // 200, "Content-Type: application/json".
    static http_reply json(std::string body);
    static http_reply dropped();
    static http_reply cut_after(std::uint64_t bytes, std::string body);
    static http_reply stalled_after(std::uint64_t bytes, std::string body,
                                    std::chrono::milliseconds stall_for = std::chrono::hours(1));
    static http_reply delayed(std::chrono::milliseconds delay, http_reply reply);
};

enum class signature_verdict {
    not_rest,  // the target is no "/rest/action/" path
    valid,
    invalid,  // answered 401 without asking the scripts
};

struct recorded_request {
    std::string method;
    std::string target;    // as sent, query included
    std::string path;      // the target without its query
    std::string raw_head;  // the request line and headers exactly as they arrived
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    // The REST path's fields: /rest/action/<action>/<app_key>/<user_key>/1.0/2.0/HmacSHA256/
    // <signature>/<timestamp>/JSON. Filled when the path has that shape.
    signature_verdict verdict = signature_verdict::not_rest;
    std::string action;  // without "/"
    std::string app_key;
    std::string user_key;
    std::string signature;
    std::string timestamp;
    std::string expected_signature;  // what the server computed
    // Why an invalid REST request was refused: the ErrorMessage of the answer.
    std::string refusal;

    // The first header of that name, in any letter case; empty when absent.
    std::string header(const std::string& name) const;
    bool has_header(const std::string& name) const;
};

using http_handler = std::function<http_reply(const recorded_request&)>;

using http_observer = std::function<void(const recorded_request&, const http_reply&)>;

// PEM files of the certificate (chain) and key a TLS server shows.
struct tls_files {
    std::string certificate;
    std::string key;
};

class test_http_server {
public:
    // Listening when constructed, on the port given (0: one the system picks); stops,
    // closing every connection, when destroyed. Throws when the port cannot be had.
    explicit test_http_server(std::uint16_t port = 0);
    // The same over TLS, with the certificate and key in these files.
    explicit test_http_server(const tls_files& tls, std::uint16_t port = 0);
    ~test_http_server();
    test_http_server(const test_http_server&) = delete;
    test_http_server& operator=(const test_http_server&) = delete;

    std::uint16_t port() const;
    // "127.0.0.1:<port>", the form of connection_settings::server.
    std::string host() const;
    // "http://127.0.0.1:<port>" + target (which begins with "/"); "https://" over TLS.
    std::string url(const std::string& target) const;

    // Scripts for a path (the target without its query), replacing earlier ones for it.
    // A path nobody scripted is answered 404 "no script for <path>".
    void reply(const std::string& path, http_reply reply);
    // The n-th request gets the n-th reply; the last one repeats.
    void reply_sequence(const std::string& path, std::vector<http_reply> replies);
    // `failure` for the first `count` requests, `reply` from then on.
    void fail_first(const std::string& path, unsigned count, http_reply failure, http_reply reply);
    // Called on the server's thread; it may call this server's methods.
    void handle(const std::string& path, http_handler handler);
    // For every path that begins with the prefix; an exact path wins, then the longest
    // prefix.
    void handle_prefix(const std::string& prefix, http_handler handler);
    // GET answers the file's current content.
    void serve_file(const std::string& path, const std::string& local_path);
    // PUTs are kept (put_body) and answered with `reply`.
    void accept_put(const std::string& path, http_reply reply = http_reply{});
    std::optional<std::string> put_body(const std::string& path) const;

    // REST actions by name without "/" (e.g. "DeviceCourseDataDetails"); answered only
    // when the signature is valid.
    void reply_rest(const std::string& action, http_reply reply);
    void handle_rest(const std::string& action, http_handler handler);
    // The application pair is the built-in one unless set; user keys must be added.
    void set_application(const std::string& key, const std::string& secret);
    void add_user(const std::string& user_key, const std::string& user_secret);
    // REST requests whose timestamp lies further than this from the server's clock are
    // refused like a bad signature; unset, timestamps are not checked.
    void set_timestamp_window(std::chrono::seconds window);

    // Called on the server's thread with every request and the reply it got, before the
    // reply goes out.
    void observe(http_observer observer);
    // False: requests() stays empty, for a server that runs for long.
    void keep_records(bool keep);

    std::vector<recorded_request> requests() const;
    std::vector<recorded_request> requests_to(const std::string& path) const;
    // Requests whose path begins with the prefix.
    std::size_t count(const std::string& prefix) const;
    void clear_requests();

    class impl;

private:
    std::unique_ptr<impl> impl_;
};

// Standard Base64 with "=" padding, written from its definition like the HMAC below; tests
// also use it to build the service's answers.
std::string reference_base64(const std::string& bytes);
// Built here from RFC 2104 over SHA-256, independently of the agent's signing, so that
// the two can disagree when one is wrong.
std::string reference_hmac_sha256(const std::string& key, const std::string& message);
// Standard Base64 of the MAC with "/" -> "_", "+" -> "-" and no "=".
std::string reference_signature(const std::string& secret, const std::string& string_to_sign);
// The time a request timestamp ("YYMMDDhhmmss+0000", UTC) names; nullopt when it is no
// such text.
std::optional<std::chrono::system_clock::time_point> parse_request_timestamp(
    const std::string& text);

}  // namespace orvel::test
