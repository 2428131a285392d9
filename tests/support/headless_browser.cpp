#include "support/headless_browser.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <json/reader.h>
#include <json/writer.h>

#include <fstream>
#include <map>
#include <optional>
#include <stdexcept>
#include <thread>

#include "cloud/base64.h"
#include "support/child_process.h"
#include "support/temp_folder.h"

namespace orvel::test {

namespace {

// A pipe end kept above the descriptors the child is given, closed on exec in the test.
int high_descriptor(int fd) {
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 10);
    ::close(fd);
    return moved;
}

}  // namespace

struct headless_browser::impl {
    temp_folder profile{"chromium"};
    int to_browser = -1;
    int from_browser = -1;
    std::optional<child_process> process;
    std::string pending;  // bytes read past the last whole message
    int next_id = 1;
    std::map<std::string, std::string> sessions;  // tab -> session

    ~impl() {
        if (to_browser >= 0) {
            ::close(to_browser);
        }
        if (from_browser >= 0) {
            ::close(from_browser);
        }
    }

    // One message, or nullopt when none came in time.
    std::optional<Json::Value> read_message(duration timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const std::size_t end = pending.find('\0');
            if (end != std::string::npos) {
                const std::string text = pending.substr(0, end);
                pending.erase(0, end + 1);
                Json::Value message;
                Json::CharReaderBuilder builder;
                std::string errors;
                std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
                if (!reader->parse(text.data(), text.data() + text.size(), &message, &errors)) {
                    throw std::runtime_error("browser sent bad JSON: " + errors);
                }
                return message;
            }
            const auto left =
                std::chrono::duration_cast<duration>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                return std::nullopt;
            }
            pollfd ready{from_browser, POLLIN, 0};
            if (::poll(&ready, 1, static_cast<int>(left.count())) <= 0) {
                continue;
            }
            char buffer[65536];
            const ssize_t got = ::read(from_browser, buffer, sizeof buffer);
            if (got <= 0) {
                throw std::runtime_error("the browser closed its pipe");
            }
            pending.append(buffer, static_cast<std::size_t>(got));
        }
    }

    // Sends a command and answers its result; events that come meanwhile are passed over.
    Json::Value call(const std::string& method, const Json::Value& params = Json::objectValue,
                     const std::string& session = "", duration timeout = std::chrono::seconds(20)) {
        Json::Value message;
        const int id = next_id++;
        message["id"] = id;
        message["method"] = method;
        message["params"] = params;
        if (!session.empty()) {
            message["sessionId"] = session;
        }
        Json::StreamWriterBuilder writer;
        writer["indentation"] = "";
        const std::string text = Json::writeString(writer, message) + '\0';
        for (std::size_t sent = 0; sent < text.size();) {
            const ssize_t wrote = ::write(to_browser, text.data() + sent, text.size() - sent);
            if (wrote <= 0) {
                throw std::runtime_error("cannot write to the browser");
            }
            sent += static_cast<std::size_t>(wrote);
        }
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const auto left =
                std::chrono::duration_cast<duration>(deadline - std::chrono::steady_clock::now());
            std::optional<Json::Value> answer = read_message(left);
            if (!answer) {
                throw std::runtime_error("the browser did not answer " + method);
            }
            if ((*answer)["id"].asInt() != id) {
                continue;
            }
            if (answer->isMember("error")) {
                throw std::runtime_error(method + ": " + (*answer)["error"]["message"].asString());
            }
            return (*answer)["result"];
        }
    }
};

std::string chromium_path() {
    return program_path("chromium");
}

headless_browser::headless_browser(const std::vector<std::string>& flags)
    : impl_(std::make_unique<impl>()) {
    const std::string program = chromium_path();
    if (program.empty()) {
        throw std::runtime_error("Chromium is not installed (Debian package chromium)");
    }
    int commands[2];
    int answers[2];
    if (::pipe(commands) != 0 || ::pipe(answers) != 0) {
        throw std::runtime_error("cannot make the browser's pipes");
    }
    const int their_input = high_descriptor(commands[0]);
    impl_->to_browser = high_descriptor(commands[1]);
    impl_->from_browser = high_descriptor(answers[0]);
    const int their_output = high_descriptor(answers[1]);
    // Without the background services' flags the browser keeps trying to reach hosts that
    // this machine cannot; the sandbox cannot run as root, as CI does.
    std::vector<std::string> arguments = {program,
                                          "--headless",
                                          "--no-sandbox",
                                          "--disable-gpu",
                                          "--disable-quic",
                                          "--no-first-run",
                                          "--disable-background-networking",
                                          "--disable-component-update",
                                          "--disable-sync",
                                          "--disable-dev-shm-usage",
                                          "--user-data-dir=" + impl_->profile.path(),
                                          "--remote-debugging-pipe"};
    arguments.insert(arguments.end(), flags.begin(), flags.end());
    arguments.push_back("about:blank");
    const int noise =
        ::open((impl_->profile / "browser.log").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    try {
        impl_->process.emplace(
            arguments, "", noise,
            std::vector<std::pair<int, int>>{{noise, 2}, {their_input, 3}, {their_output, 4}});
    } catch (...) {
        ::close(noise);
        ::close(their_input);
        ::close(their_output);
        throw;
    }
    ::close(noise);
    ::close(their_input);
    ::close(their_output);
    impl_->call("Target.setDiscoverTargets", [] {
        Json::Value params;
        params["discover"] = false;
        return params;
    }());
}

headless_browser::~headless_browser() {
    try {
        impl_->call("Browser.close", Json::objectValue, "", std::chrono::seconds(5));
    } catch (const std::exception&) {
        // It is stopped below either way.
    }
    if (impl_->process) {
        impl_->process->stop();
    }
}

std::string headless_browser::open_tab(const std::string& url) {
    Json::Value params;
    params["url"] = url;
    const std::string tab = impl_->call("Target.createTarget", params)["targetId"].asString();
    Json::Value attach;
    attach["targetId"] = tab;
    attach["flatten"] = true;
    impl_->sessions[tab] = impl_->call("Target.attachToTarget", attach)["sessionId"].asString();
    return tab;
}

void headless_browser::close_tab(const std::string& tab) {
    Json::Value params;
    params["targetId"] = tab;
    impl_->call("Target.closeTarget", params);
    impl_->sessions.erase(tab);
}

void headless_browser::reload(const std::string& tab) {
    impl_->call("Page.reload", Json::objectValue, impl_->sessions.at(tab));
}

Json::Value headless_browser::evaluate(const std::string& tab, const std::string& expression) {
    Json::Value params;
    params["expression"] = expression;
    params["awaitPromise"] = true;
    params["returnByValue"] = true;
    const Json::Value result = impl_->call("Runtime.evaluate", params, impl_->sessions.at(tab));
    if (result.isMember("exceptionDetails")) {
        throw std::runtime_error(
            "page exception: " + result["exceptionDetails"]["text"].asString() + " in " +
            expression);
    }
    return result["result"]["value"];
}

bool headless_browser::wait_until(const std::string& tab, const std::string& expression,
                                  duration timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        // A page that is loading has no context to evaluate in yet; that is "not yet".
        try {
            if (evaluate(tab, expression).asBool()) {
                return true;
            }
        } catch (const std::runtime_error&) {
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void headless_browser::screenshot(const std::string& tab, const std::string& path) {
    Json::Value params;
    params["format"] = "png";
    const Json::Value result =
        impl_->call("Page.captureScreenshot", params, impl_->sessions.at(tab));
    const byte_vector png = decode_base64(result["data"].asString());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

}  // namespace orvel::test
