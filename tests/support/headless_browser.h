// Debian's Chromium without a window, driven over the DevTools protocol on a pipe: the
// browser a member's page really runs in.
#pragma once

#include <json/value.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orvel::test {

class headless_browser {
public:
    using duration = std::chrono::milliseconds;

    // Starts a fresh browser with its own profile; `flags` are added to its command line.
    // Throws std::runtime_error when Chromium is missing or does not answer.
    explicit headless_browser(const std::vector<std::string>& flags = {});
    ~headless_browser();
    headless_browser(const headless_browser&) = delete;
    headless_browser& operator=(const headless_browser&) = delete;

    // Opens the address in a new tab; answers the tab's id.
    std::string open_tab(const std::string& url);
    void close_tab(const std::string& tab);
    void reload(const std::string& tab);
    // The value of a JavaScript expression in the tab (a promise is awaited); throws on an
    // exception in the page.
    Json::Value evaluate(const std::string& tab, const std::string& expression);
    // Evaluates the expression until it is true; false on time-out.
    bool wait_until(const std::string& tab, const std::string& expression,
                    duration timeout = std::chrono::seconds(10));
    // A PNG of the tab's viewport.
    void screenshot(const std::string& tab, const std::string& path);

private:
    struct impl;
    std::unique_ptr<impl> impl_;
};

// The Chromium this machine has ("" when none).
std::string chromium_path();

}  // namespace orvel::test
