// The connection of every serial model: finds the bridge's port and opens the unit on it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "devices/serial/comm_device.h"
#include "sync/device_connection.h"

namespace orvel {

class CommConnection : public device_connection {
public:
    CommConnection(std::unique_ptr<CommDevice> owned, const connection_settings& settings,
                   event_base& interrupt_event);

    bool open_device() override;
    // The port of the first listed bridge whose name holds the device's identity.
    std::string find_device() override;
};

// The device path of the first name that contains the identity and then "(/" with a ")"
// after it: the text between the parentheses. Empty when no name matches. Simulated units
// may stand at any absolute path, not only below /dev.
std::string find_port(const std::vector<std::string>& names, const std::string& identity);

}  // namespace orvel
