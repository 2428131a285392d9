#include "cloud/download_channel.h"

#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/write.hpp>
#include <boost/exception/diagnostic_information.hpp>
#include <boost/system/system_error.hpp>
#include <boost/throw_exception.hpp>

#include <chrono>
#include <memory>

#include "base/failures.h"
#include "base/format.h"
#include "base/log_hub.h"
#include "cloud/download_answer.h"
#include "cloud/http_transport.h"
#include "platform/trust_store.h"

namespace orvel {

namespace {

using boost::asio::ip::tcp;
using boost::system::error_code;
using steady = std::chrono::steady_clock;
namespace ssl = boost::asio::ssl;

// How often a waiting step asks the event whether to stop.
constexpr std::chrono::milliseconds poll_interval(100);
// A head longer than this is no answer of a file store.
constexpr std::size_t max_head_size = 64 * 1024;
// How long a read goes on gathering what arrives after its first bytes. Over TLS one read
// gives one record of at most 16 KiB, and a fast download would spend its time on the
// steps around each; a slow one still hands its bytes on this often.
constexpr std::chrono::milliseconds gather_time(20);

struct certificate_free {
    void operator()(X509* certificate) const noexcept { X509_free(certificate); }
};
using certificate_handle = std::unique_ptr<X509, certificate_free>;

}  // namespace

void fail_download_step(const error_code& error, const char* step) {
    const boost::wrapexcept<boost::system::system_error> failure{
        boost::system::system_error(error, step)};
    throw http_exception(
        format_text("_http_download_: %s", boost::diagnostic_information(failure).c_str()));
}

download_channel::download_channel(event_base& event)
    : event_(event), resolver_(io_), tls_(ssl::context::tls_client), stream_(io_, tls_) {}

bool download_channel::connect(const std::string& host, std::uint16_t port) {
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
    if (!finish(done, error, "resolve")) {
        return false;
    }
    done = false;
    boost::asio::async_connect(stream_.next_layer(), endpoints,
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

void download_channel::trust_system_store() {
    error_code ignored;
    // Where the system keeps its store in OpenSSL's own places, these are it; where it does
    // not, they hold nothing and the list below does.
    tls_.set_default_verify_paths(ignored);
    X509_STORE* store = SSL_CTX_get_cert_store(tls_.native_handle());
    for (const auto& der : platform::system_root_certificates()) {
        const unsigned char* at = der.data();
        const certificate_handle certificate(d2i_X509(nullptr, &at, static_cast<long>(der.size())));
        if (certificate) {
            X509_STORE_add_cert(store, certificate.get());  // a copy there is no failure
        }
    }
}

bool download_channel::secure(const std::string& host) {
    trust_system_store();
    SSL* session = stream_.native_handle();
    error_code not_an_address;
    boost::asio::ip::make_address(host, not_an_address);
    // The name the server is asked for is the one its certificate must carry; a check
    // that cannot be set up must not leave the certificate of any host good enough.
    const bool checks_host =
        not_an_address ? SSL_set_tlsext_host_name(session, host.c_str()) == 1 &&
                             SSL_set1_host(session, host.c_str()) == 1
                       : X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(session), host.c_str()) == 1;
    if (!checks_host) {
        fail_download("Can't check the certificate's name against " + host);
    }
    stream_.set_verify_mode(ssl::verify_peer);

    bool done = false;
    error_code error;
    stream_.async_handshake(ssl::stream_base::client, [&](const error_code& result) {
        error = result;
        done = true;
    });
    if (!finish(done, error)) {
        return false;
    }
    const long verified = SSL_get_verify_result(session);
    if (error && verified != X509_V_OK) {
        fail_download(format_text("The certificate of %s does not verify: %s", host.c_str(),
                                  X509_verify_cert_error_string(verified)));
    }
    if (error) {
        fail_download_step(error, "handshake");
    }
    secure_ = true;
    return true;
}

bool download_channel::write(const std::string& text) {
    bool done = false;
    error_code error;
    on_stream([&](auto& stream) {
        boost::asio::async_write(stream, boost::asio::buffer(text),
                                 [&](const error_code& result, std::size_t) {
                                     error = result;
                                     done = true;
                                 });
    });
    return finish(done, error, "write");
}

bool download_channel::read_until(std::string& text, const char* delimiter, std::size_t& end) {
    bool done = false;
    error_code error;
    on_stream([&](auto& stream) {
        boost::asio::async_read_until(stream, boost::asio::dynamic_buffer(text, max_head_size),
                                      delimiter, [&](const error_code& result, std::size_t count) {
                                          error = result;
                                          end = count;
                                          done = true;
                                      });
    });
    return finish(done, error, "read_until");
}

bool download_channel::read_some(std::vector<char>& buffer, std::size_t& count, error_code& error) {
    bool done = false;
    const auto started = steady::now();
    const auto more = [&buffer, started](const error_code& failed, std::size_t got) {
        const bool enough = got > 0 && steady::now() - started >= gather_time;
        return failed || enough ? 0 : buffer.size() - got;
    };
    on_stream([&](auto& stream) {
        boost::asio::async_read(stream, boost::asio::buffer(buffer), more,
                                [&](const error_code& result, std::size_t read) {
                                    error = result;
                                    count = read;
                                    done = true;
                                });
    });
    return finish(done, error);
}

bool download_channel::finish(const bool& done, error_code& error) {
    const auto deadline = steady::now() + std::chrono::milliseconds(stall_limit());
    // A step runs many handlers (one for each TLS record); asking the event after each
    // would cost more than the record.
    auto next_question = steady::now() + poll_interval;
    io_.restart();
    while (!done) {
        io_.run_one_for(poll_interval);
        if (done) {
            break;
        }
        const auto now = steady::now();
        if (now < next_question) {
            continue;
        }
        next_question = now + poll_interval;
        const bool stop = event_.wait(0);
        if (stop || now >= deadline) {
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

bool download_channel::finish(const bool& done, error_code& error, const char* step) {
    if (!finish(done, error)) {
        return false;
    }
    if (error) {
        fail_download_step(error, step);
    }
    return true;
}

// Cancels the pending step and lets its handler run, so nothing refers to the caller's
// locals afterwards.
void download_channel::abandon(const bool& done) {
    resolver_.cancel();
    error_code ignored;
    stream_.next_layer().close(ignored);
    io_.restart();
    while (!done && io_.run_one() > 0) {
    }
}

}  // namespace orvel
