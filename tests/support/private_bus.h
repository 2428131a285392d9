// A D-Bus daemon of one test's own, so that tests never meet the machine's buses or each other.
#pragma once

#include <memory>
#include <string>

#include "support/child_process.h"
#include "support/temp_folder.h"

namespace orvel::test {

class private_bus {
public:
    // Starts the daemon; throws std::runtime_error when it does not come up.
    private_bus();
    ~private_bus();
    private_bus(const private_bus&) = delete;
    private_bus& operator=(const private_bus&) = delete;

    // The address clients connect to ("unix:path=...").
    const std::string& address() const { return address_; }

private:
    temp_folder folder_{"dbus"};
    std::unique_ptr<child_process> daemon_;
    std::string address_;
};

}  // namespace orvel::test
