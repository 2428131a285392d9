// Turns the page's model text into that model's connection and device.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "base/events.h"
#include "cloud/connection_settings.h"
#include "devices/device_connection.h"

namespace orvel {

// The whole text is compared, case-sensitively; any other text raises code 900.
std::unique_ptr<device_connection> make_device_connection(const std::string& model,
                                                          const connection_settings& settings,
                                                          event_base& interrupt_event);

// How the command loop builds a connection for a model text; tests put in their own units.
using connection_factory = std::function<std::unique_ptr<device_connection>(
    const std::string&, const connection_settings&, event_base&)>;

}  // namespace orvel
