// A serial model's connection: its model text over the device class it owns.
#pragma once

#include <memory>

#include "devices/serial/comm_connection.h"

namespace orvel {

template <typename Device>
class serial_model_connection : public CommConnection {
public:
    serial_model_connection(const char* model, const connection_settings& settings,
                            event_base& interrupt_event)
        : CommConnection(std::make_unique<Device>(interrupt_event), settings, interrupt_event),
          model_(model) {}

    std::string model_name() override { return model_; }

private:
    const char* model_;
};

}  // namespace orvel
