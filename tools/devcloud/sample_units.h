// The simulated units in one folder: a volume folder for every volume model, with the
// model's marker and starting files, and the links that serial simulators make to their
// pseudo-terminals ("<unit>.port") with what they hold. Plugging a volume makes its marker,
// unplugging removes it; a serial unit is unplugged by moving its link aside
// ("<unit>.port.unplugged").
#pragma once

#include <json/value.h>

#include <mutex>
#include <string>
#include <vector>

namespace orvel::devcloud {

class sample_units {
public:
    // Makes the volume folders that are missing. Of the volume models that share a marker,
    // only the first is plugged: the agent takes the first volume that carries it.
    explicit sample_units(std::string folder);

    // The volume folders, for ORVELSYNC_VOLUMES.
    std::vector<std::string> volume_paths() const;
    // Every unit: its name, kind ("volume" or "serial"), the models it stands for, whether
    // it is plugged, where it is and what it holds.
    Json::Value describe() const;
    // Plugging a unit unplugs the others that share its marker or bridge. False: no such
    // unit.
    bool set_plugged(const std::string& unit, bool plugged);

    // The link through which the agent reaches a serial unit, and where it is moved to
    // unplug the unit.
    static std::string port_link(const std::string& folder, const std::string& unit);
    static std::string unplugged_link(const std::string& folder, const std::string& unit);
    // Where a serial unit program that knows its courses by name lists them.
    static std::string holds_file(const std::string& folder, const std::string& unit);
    // True when a unit of that bridge other than this one is plugged in the folder.
    static bool bridge_taken(const std::string& folder, const std::string& unit);

private:
    Json::Value describe_volume(const std::string& unit) const;
    Json::Value describe_serial(const std::string& unit) const;
    std::vector<std::string> serial_units() const;

    std::string folder_;
    mutable std::mutex mutex_;
};

}  // namespace orvel::devcloud
