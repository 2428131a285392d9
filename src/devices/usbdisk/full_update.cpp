// Full update and restore of a USB-disk unit: the exchanges with the service and the
// downloads onto the volume.
#include <json/value.h>

#include <cinttypes>

#include "base/failures.h"
#include "base/log_hub.h"
#include "cloud/http_download.h"
#include "cloud/http_transport.h"
#include "devices/usbdisk/library_install.h"
#include "devices/usbdisk/nar_file.h"
#include "devices/usbdisk/relative_name.h"
#include "devices/usbdisk/unit_download.h"
#include "devices/usbdisk/usbdisk_connection.h"
#include "platform/file_ops.h"
#include "platform/memory_stream.h"

namespace orvel {

namespace {

void post(request_context& request, const std::string& action, const Json::Value& body) {
    try {
        rest_post(request, action, body);
    } catch (const intl_exception& e) {
        log(3, "%s", e.message().c_str());
        raise_sync_error(sync_error_code::request_failed);
    }
}

void check_listed_files(const std::vector<std::string>& files) {
    for (const std::string& file : files) {
        if (!stays_below_root(file)) {
            log(3, "File %s is not below the device's root", file.c_str());
            raise_sync_error(sync_error_code::device_write_failed);
        }
    }
}

}  // namespace

void USBDiskConnection::restore_device() {
    const auto in_use = hold_device();
    const std::string root = found_root();
    memory_stream response;
    request_context request{response, settings()};
    post(request, "DeviceRestore/", Json::Value(Json::objectValue));
    disk().close();
    USBDiskRestoreResponse answer;
    answer.parse(response);
    download_files(request, answer, root);
    if (!open_device()) {
        return;
    }
    disk().close();
}

void USBDiskConnection::full_update() {
    const auto in_use = hold_device();
    memory_stream response;
    request_context request{response, settings()};
    download_full_data(request);
}

void USBDiskConnection::download_full_data(request_context& request) {
    const std::string root = found_root();
    // A course update that failed leaves the course file open on the file it replaces.
    disk().close();
    std::string scores;
    if (uses_sp_files()) {
        read_sp_files(root, scores);
    }
    Json::Value body(Json::objectValue);
    body["updateArticles"] = uses_nar_files() ? 1 : 0;
    if (uses_sp_files()) {
        body["userScores"] = scores;
    }
    post(request, "DeviceFullDataDetails/", body);

    USBDiskFullUpdateResponse& answer = disk().restore_response();
    answer.parse(request.response);
    // Refused before the downloads, so that nothing of the update is written.
    if (uses_nar_files() && !category_names_are_safe(answer.articles.categories)) {
        raise_sync_error(sync_error_code::articles_not_written);
    }
    if (answer.files.empty()) {
        log(3, "FullSync not needed");
    } else {
        download_files(request, answer, root);
    }

    if (uses_nar_files()) {
        bool written = false;
        try {
            written = write_nar(root, answer.articles.categories);
        } catch (const intl_exception& e) {
            log(3, "%s", e.message().c_str());
        }
        if (!written) {
            raise_sync_error(sync_error_code::articles_not_written);
        }
    }
    if (uses_sp_files()) {
        try {
            write_sp_files(answer.user_scores.records);
        } catch (const intl_exception& e) {
            log(3, "%s", e.message().c_str());
            raise_sync_error(sync_error_code::scores_not_written);
        }
    }
    open_device();
}

void USBDiskConnection::download_files(request_context& request, USBDiskRestoreResponse& response,
                                       const std::string& root) {
    check_listed_files(response.files);
    const platform::volume_root volume(root);
    for (std::size_t i = 0; i < response.urls.size(); ++i) {
        const std::string& file = response.files[i];
        const std::string& url = response.urls[i];
        try {
            if (!volume.create_folders(file)) {
                throw intl_exception("Can't create the folders of " + volume.path_of(file));
            }
            if (file == disk().course_file_name()) {
                install_package(request, root, url, response.version);
                continue;
            }
            const std::uint32_t offset =
                file == disk().setup_file_name() ? disk().setup_file_offset() : 0;
            unit_download download(volume, file, offset != 0);
            download_file(url, download.path(), offset, interrupt_event());
            download.put_in_place();
        } catch (const http_exception&) {
            throw;
        } catch (const intl_exception& e) {
            log(3, "%s", e.message().c_str());
            raise_sync_error(sync_error_code::device_write_failed);
        }
    }
}

void USBDiskConnection::install_package(request_context& request, const std::string& root,
                                        const std::string& url, std::int32_t version) {
    log(3, "Free space on device: %" PRIu64 " bytes", platform::get_free_space(root));
    const platform::volume_root volume(root);
    const std::string name = disk().course_file_name();
    unit_download package(volume, name, false);
    http_download_with_retry(url, package.path(), interrupt_event());
    if (!install_files(volume, {{name, package.path()}})) {
        throw intl_exception("Can't install " + volume.path_of(name));
    }
    confirm_full_data(request, version);
}

void USBDiskConnection::confirm_full_data(request_context& request, std::int32_t version) {
    try {
        Json::Value body(Json::objectValue);
        body["version"] = version;
        rest_post(request, "DeviceFullDataConfirm/", body);
        disk().plain_response().parse(request.response);
    } catch (const base_exception& e) {
        raise_sync_error(sync_error_code::full_update_not_confirmed, "%s", e.message().c_str());
    }
}

}  // namespace orvel
