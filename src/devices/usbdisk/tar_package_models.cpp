#include "devices/usbdisk/tar_package_models.h"

#include <cinttypes>

#include "base/failures.h"
#include "base/log_hub.h"
#include "base/scoped_timer.h"
#include "cloud/http_download.h"
#include "devices/usbdisk/tar_reader.h"
#include "platform/file_ops.h"
#include "platform/file_stream.h"

namespace orvel {

namespace {

// The package download in the temporary folder, gone on every way out.
class package_download {
public:
    package_download() : path_(platform::temp_file_path("orvelsync_tar.download")) {}
    ~package_download() { platform::remove(path_); }
    package_download(const package_download&) = delete;
    package_download& operator=(const package_download&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace

void nebro_connection::download_files(request_context& request, USBDiskRestoreResponse& response,
                                      const std::string& root) {
    tar_disk().check_setup_type(response.setupType, root);
    USBDiskConnection::download_files(request, response, root);
    if (disk().row().ephemeris) {
        update_ephemeris(request, root);
    }
}

void nebro_connection::install_package(request_context& request, const std::string& root,
                                       const std::string& url, std::int32_t version) {
    log(3, "Free space on device: %" PRIu64 " bytes", platform::get_free_space(root));
    log(3, "Free space on TEMP: %" PRIu64 " bytes", platform::get_free_space(platform::temp_dir()));
    const package_download download;
    {
        const scoped_timer timer("download_file");
        http_download_with_retry(url, download.path(), interrupt_event());
    }
    file_stream package(download.path(), file_stream::delete_on_close);
    {
        const scoped_timer timer("TAR::unPack");
        tar::unpack(package, root, interrupt_event());
    }
    confirm_full_data(request, version);
}

}  // namespace orvel
