// The connection of every serial model: finds the bridge's port and opens the unit on it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "devices/device_connection.h"
#include "devices/model_rows.h"
#include "devices/serial/comm_device.h"
#include "platform/serial_ports.h"

namespace orvel {

class CommConnection : public device_connection {
public:
    CommConnection(std::unique_ptr<CommDevice> owned, const model_row& row,
                   const connection_settings& settings, event_base& interrupt_event);

    bool open_device() override;
    std::string model_name() override { return row_.name; }
    // The port of the first listed bridge whose name holds the device's identity.
    std::string find_device() override;

private:
    const model_row& row_;
};

// The device of the first port whose name contains the identity and whose device is a path
// (a COM port's on Windows); empty when none is. Simulated units may stand at any absolute
// path, not only below /dev.
std::string find_port(const std::vector<platform::serial_port_entry>& ports,
                      const std::string& identity);

}  // namespace orvel
