// The connection of every serial model: finds the bridge's port and opens the unit on it.
#pragma once

#include <memory>

#include "devices/serial/comm_device.h"
#include "sync/device_connection.h"

namespace orvel {

class CommConnection : public device_connection {
public:
    CommConnection(std::unique_ptr<CommDevice> owned, const connection_settings& settings,
                   event_base& interrupt_event);

    bool open_device() override;
    std::string find_device() override;
};

}  // namespace orvel
