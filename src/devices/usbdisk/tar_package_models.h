// The connection of the USB-disk models whose course library is a folder tree unpacked from
// a tar package: Nebro, Uzo, Prang, Morvane, Caltor2, Uzo2 and Quorvanda.
#pragma once

#include <memory>

#include "devices/usbdisk/nebro_device.h"
#include "devices/usbdisk/usbdisk_connection.h"

namespace orvel {

class nebro_connection : public USBDiskConnection {
public:
    nebro_connection(const model_row& row, const connection_settings& settings,
                     event_base& interrupt_event)
        : USBDiskConnection(std::make_unique<nebro_device>(row, interrupt_event), settings,
                            interrupt_event) {}

    // A model with ephemeris also gets the satellite ephemeris files the service holds for
    // its serial number after every update of its files.
    void update_course(const std::string& courseCode) override;
    // Only files for the unit's set-up type, for a model that has one (604 otherwise, 201
    // without its set-up byte).
    void download_files(request_context& request, USBDiskRestoreResponse& response,
                        const std::string& root) override;
    // Downloads the package into the temporary folder, unpacks it onto the unit and
    // confirms the version; the download and the unpacked files leave the computer again.
    void install_package(request_context& request, const std::string& root, const std::string& url,
                         std::int32_t version) override;
    // Downloads the offered files into "ALP/" one by one, confirming each. Transport
    // failures and interruptions pass; any other failure is logged and ends it quietly.
    virtual void update_ephemeris(request_context& request, const std::string& root);

private:
    nebro_device& tar_disk() { return static_cast<nebro_device&>(disk()); }
};

}  // namespace orvel
