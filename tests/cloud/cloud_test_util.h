// Small helpers shared by the cloud client's tests.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "base/events.h"
#include "cloud/http_transport.h"
#include "platform/memory_stream.h"
#include "sim/test_http_server.h"
#include "support/scoped_env.h"
#include "support/temp_folder.h"
#include "support/test_certificate.h"

namespace orvel::test {

inline std::string stream_text(memory_stream& stream) {
    return stream.text();
}

inline void write_text(memory_stream& stream, const std::string& text) {
    stream.write(text.data(), static_cast<std::uint32_t>(text.size()));
}

// Sets the event from another thread after a delay; joins when it goes out of scope.
class delayed_set {
public:
    delayed_set(event& target, std::chrono::milliseconds delay)
        : thread_([&target, delay] {
              std::this_thread::sleep_for(delay);
              target.set();
          }) {}
    ~delayed_set() { thread_.join(); }
    delayed_set(const delayed_set&) = delete;
    delayed_set& operator=(const delayed_set&) = delete;

private:
    std::thread thread_;
};

// Puts the transport's stall limit back when the test ends.
class stall_limit_guard {
public:
    explicit stall_limit_guard(std::uint32_t milliseconds) { set_stall_limit(milliseconds); }
    ~stall_limit_guard() { set_stall_limit(default_stall_limit_ms); }
    stall_limit_guard(const stall_limit_guard&) = delete;
    stall_limit_guard& operator=(const stall_limit_guard&) = delete;
};

inline double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A cloud test server over TLS, with a certificate for 127.0.0.1 from a test authority that
// the agent trusts the way it trusts any other system store: through SSL_CERT_FILE.
struct tls_cloud {
    temp_folder folder{"tls-cloud"};
    test_authority authority{folder.path(), "authority"};
    scoped_env trust{"SSL_CERT_FILE", authority.file()};
    test_http_server server{authority.issue("127.0.0.1")};
};

// A port on which nothing listens any more.
inline std::uint16_t closed_port() {
    const test_http_server gone;
    return gone.port();
}

}  // namespace orvel::test
