// The connection of every USB-disk model: finds the volume by its marker and drives the
// cloud operations on it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cloud/rest_request.h"

#include "devices/device_connection.h"
#include "devices/usbdisk/usbdisk_device.h"

namespace orvel {

class USBDiskConnection : public device_connection {
public:
    USBDiskConnection(std::unique_ptr<USBDiskDevice> owned, const connection_settings& settings,
                      event_base& interrupt_event);

    bool is_device_present() override;
    bool eject_needed() override;
    std::string device_location() override;
    bool open_device() override;
    void close_device() override;
    // Sends the unit's round scores up, downloads the files the answer lists, writes the
    // scores and articles it returns, and leaves the unit open.
    void full_update() override;
    // Downloads the files the service lists for the unit; the unit is closed afterwards.
    void restore_device() override;
    void update_course(const std::string& courseCode) override;
    // Refused with 1700 while an update uses the unit's files.
    void eject() override;
    // The first removable volume, in listing order, that holds the model's marker.
    std::string find_device() override;
    // The full update over a fresh request context.
    virtual void download_full_data(request_context& request);
    std::string model_name() override { return disk().row().name; }
    // Whether the full update carries score files ("SP/") and article files ("NAR/").
    bool uses_sp_files() { return disk().row().scores; }
    bool uses_nar_files() { return disk().row().articles; }
    // False without writing anything when a category's name is no file name; a category's
    // articles beyond the tenth are left out.
    virtual bool write_nar(const std::string& root,
                           const std::vector<article_category>& categories);
    // Tells the service the unit holds the version's package; 602 when that fails.
    virtual void confirm_full_data(request_context& request, std::int32_t version);
    // Each listed file into place below the root; 600 before anything is written when a name
    // would lead outside it.
    virtual void download_files(request_context& request, USBDiskRestoreResponse& response,
                                const std::string& root);
    // The course data file, by the retrying package download, then the confirmation.
    virtual void install_package(request_context& request, const std::string& root,
                                 const std::string& url, std::int32_t version);
    // The score files "SP/KVSP00.SP" to "SP/KVSP99.SP" that exist, as the request sends them.
    virtual void read_sp_files(const std::string& root, std::string& text);
    // Record i replaces "SP/KVSPii.SP"; files beyond the list stay.
    virtual void write_sp_files(const std::vector<user_score_record>& scores);

protected:
    // The unit's root; 1400 after logging which marker is missing.
    std::string found_root();
    // The constructor only takes a USBDiskDevice, so the owned device is one.
    USBDiskDevice& disk() { return static_cast<USBDiskDevice&>(owned_device()); }

    // Held by the update thread for as long as an operation uses the unit's files, so that
    // "EjectDevice", which runs on the command loop thread even then, never closes them under
    // it. Recursive: a model that extends an operation may hold it around the base one too.
    std::unique_lock<std::recursive_mutex> hold_device() {
        return std::unique_lock<std::recursive_mutex>(device_in_use_);
    }

private:
    std::recursive_mutex device_in_use_;
};

}  // namespace orvel
