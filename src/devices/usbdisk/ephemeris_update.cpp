// The Prang unit's satellite ephemeris files: after every update of the unit, the files
// the service offers for its serial number go into "ALP/", each confirmed before the next
// is offered.
#include <json/value.h>

#include <cctype>
#include <ctime>

#include "base/failures.h"
#include "base/log_hub.h"
#include "cloud/http_transport.h"
#include "cloud/rest_request.h"
#include "devices/usbdisk/ephemerislog_response.h"
#include "devices/usbdisk/tar_package_models.h"
#include "devices/usbdisk/unit_download.h"
#include "platform/memory_stream.h"
#include "platform/volume_root.h"

namespace orvel {

namespace {

constexpr std::uint32_t response_reserve = 32768;
// Far more than one update brings; a service that offers file after file, or the same one
// again and again, would otherwise fill the unit or keep the update going for ever.
constexpr std::size_t max_ephemeris_files = 64;

// The text after the url's last underscore, in capitals; empty when there is none or it is
// no plain file name: joined to "ALP/", a "/" or a ".." in it would lead out of the folder.
std::string ephemeris_file_name(const std::string& url) {
    const std::size_t underscore = url.rfind('_');
    if (underscore == std::string::npos) {
        return std::string();
    }
    std::string name = url.substr(underscore + 1);
    if (name.find_first_of(std::string("/\\:\0", 4)) != std::string::npos ||
        name.find("..") != std::string::npos) {
        return std::string();
    }
    for (char& c : name) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return name;
}

}  // namespace

void nebro_connection::update_course(const std::string& courseCode) {
    if (!disk().row().ephemeris) {
        USBDiskConnection::update_course(courseCode);
        return;
    }
    const auto in_use = hold_device();
    USBDiskConnection::update_course(courseCode);
    memory_stream response(response_reserve);
    request_context request{response, settings()};
    update_ephemeris(request, device_location());
}

void nebro_connection::update_ephemeris(request_context& request, const std::string& root) {
    const std::string& serial = settings().serialNumber;
    if (serial.empty()) {
        return;
    }
    try {
        const std::string folder = "ALP/";
        const platform::volume_root volume(root);
        if (!volume.create_folders(folder)) {
            throw intl_exception("Can't create the folder " + volume.path_of(folder));
        }
        Json::Value list(Json::objectValue);
        list["serialNumber"] = serial;
        list["lastRecord"] = 1;
        rest_post(request, "ProductEphemerisLogList/", list);
        ephemerislog_response answer;
        answer.parse(request.response);
        for (std::size_t stored = 0; !answer.url.empty(); ++stored) {
            if (stored == max_ephemeris_files) {
                raise_sync_error(sync_error_code::bad_response,
                                 "More than %zu ephemeris files offered, %s refused",
                                 max_ephemeris_files, answer.url.c_str());
            }
            const std::string name = ephemeris_file_name(answer.url);
            if (name.empty()) {
                log(3, "Ephemeris url parse failed: %d %s", static_cast<int>(answer.days),
                    answer.url.c_str());
                return;
            }
            // The unit keeps its older file unless the new one came whole.
            unit_download file(volume, folder + name, false);
            download_file(answer.url, file.path(), 0, interrupt_event());
            file.put_in_place();

            Json::Value confirmation(Json::objectValue);
            confirmation["serialNumber"] = serial;
            confirmation["days"] = answer.days;
            confirmation["date_confirmed"] = utc_date_text(std::time(nullptr));
            rest_post(request, "ProductEphemerisLogCreate/", confirmation);
            answer.parse(request.response);
        }
    } catch (const http_exception&) {
        throw;
    } catch (const intl_exception& e) {
        log(3, "Ephemeris update failed: %s", e.message().c_str());
    } catch (const extl_exception& e) {
        // The ephemeris files are an extra: a refused or malformed answer must not turn the
        // update before them into a failure. A stop that was asked for is one.
        if (e.code() == sync_error_code::interrupted) {
            throw;
        }
        log(3, "Ephemeris update failed: %s", e.message().c_str());
    }
}

}  // namespace orvel
