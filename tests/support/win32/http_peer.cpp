// Runs a command with the test HTTP server listening beside it, for the Windows tests: the
// command (a test executable under Wine) finds the server's port in ORVEL_TEST_HTTP_PORT
// and the answers scripted below on its paths.
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "sim/test_http_server.h"

namespace {

using orvel::test::http_reply;
using orvel::test::recorded_request;

void script(orvel::test::test_http_server& server) {
    server.reply("/hello", http_reply::text(200, "hello from the loopback"));
    // What arrived, head and body, comes back as the answer.
    server.handle("/echo", [](const recorded_request& request) {
        return http_reply::text(200, request.raw_head + request.body);
    });
    server.reply("/empty-404", http_reply::text(404, ""));
    server.reply("/server-error", http_reply::text(500, "broken"));
    server.reply("/cut", http_reply::cut_after(10, std::string(100, 'c')));
    server.reply("/stall",
                 http_reply::stalled_after(5, std::string(100, 's'), std::chrono::seconds(10)));
    http_reply unsized = http_reply::text(200, std::string(5000, 'u'));
    unsized.send_length = false;
    server.reply("/unsized", unsized);
    // Byte i is i % 251: no piece of it repeats at a power of two.
    std::string big(1 << 20, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>(i % 251);
    }
    server.reply("/big", http_reply::text(200, big));
    http_reply moved = http_reply::text(302, "");
    moved.headers.emplace_back("Location", "/hello");
    server.reply("/redirect", moved);
    // A different answer every time: a client that cached the first would show it again.
    auto served = std::make_shared<std::atomic<int>>(0);
    server.handle("/count", [served](const recorded_request&) {
        return http_reply::text(200, std::to_string(++*served));
    });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s command [arguments...]\n", argv[0]);
        return 2;
    }
    orvel::test::test_http_server server;
    script(server);
    const std::string port = std::to_string(server.port());
    ::setenv("ORVEL_TEST_HTTP_PORT", port.c_str(), 1);
    const pid_t child = ::fork();
    if (child < 0) {
        std::perror("fork");
        return 2;
    }
    if (child == 0) {
        // A test run that is ended (a ctest time-out) takes the command with it.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::execvp(argv[1], argv + 1);
        std::perror(argv[1]);
        std::_Exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
