// The base of every unit reached through a USB-to-serial bridge: the port it owns.
#pragma once

#include <functional>
#include <string>

#include "base/events.h"
#include "devices/device.h"
#include "devices/serial/reply_exchange.h"
#include "platform/serial_port.h"

namespace orvel {

class CommDevice : public device {
public:
    explicit CommDevice(event_base& interrupt_event) : interrupt_event_(interrupt_event) {}
    ~CommDevice() override;

    // Opens the port at the model's rate and sets it up; throws intl_exception "Comm port
    // open failed." when the port cannot be opened.
    bool open(const std::string& location) override;
    void close() override;
    bool is_open() override;
    virtual unsigned baud_rate() = 0;

protected:
    event_base& interrupt_event() { return interrupt_event_; }
    platform::serial_port& port() { return port_; }
    // collect_reply on the device's port and interrupt event; remembers whether a reply came.
    bool exchange_reply(reply_reader& reader, const std::uint8_t* bytes, std::size_t count,
                        const exchange_rules& rules);
    bool unit_answered() const { return answered_; }
    // Runs the unit's exit exchange when the port is open and the unit answered its last
    // message (one that has gone silent would hold up whoever closes it for all the tries);
    // false from it is logged. Never raises: it runs on close and in destructors, where an
    // interrupt or a garbled reply must not escape.
    void exit_connection(const std::function<bool()>& send_exit) noexcept;

private:
    event_base& interrupt_event_;
    platform::serial_port port_;
    bool answered_ = true;
};

// The bridge identities the serial models look for.
inline constexpr const char* silicon_labs_bridge = "Silicon Labs CP210x USB to UART Bridge";
inline constexpr const char* prolific_bridge = "Prolific USB-to-Serial Comm Port";

}  // namespace orvel
