#include "devices/usbdisk/tar_package_models.h"

#include <cinttypes>

#include "base/failures.h"
#include "base/log_hub.h"
#include "base/scoped_timer.h"
#include "cloud/http_download.h"
#include "devices/model_keys.h"
#include "devices/usbdisk/tar_reader.h"
#include "platform/file_ops.h"
#include "platform/file_stream.h"

namespace orvel {

namespace {

namespace keys = model_keys;

const tar_package_model nebro{"nebro.setup", "nebro.tar", "nebro.idx", keys::Nebro::key_a,
                              keys::Nebro::key_b};
const tar_package_model uzo{"uzo.setup", "uzo.tar", "uzo.idx", keys::Uzo::key_a, keys::Uzo::key_b};
const tar_package_model prang{"PRANG.STP", "prang.tar", "prang.idx", keys::Prang::key_a,
                              keys::Prang::key_b};
const tar_package_model morvane{"morvane.stp", "morvane.tar", "morvane.idx", keys::Morvane::key_a,
                                keys::Morvane::key_b};
const tar_package_model caltor2{"caltor2.stp", "caltor2.tar", "caltor2.idx", keys::Caltor2::key_a,
                                keys::Caltor2::key_b};
const tar_package_model uzo2{"uzo2.stp", "uzo2.tar", "uzo2.idx", keys::Uzo2::key_a,
                             keys::Uzo2::key_b};
const tar_package_model quorvanda{"qvanda.stp", "quorvanda.tar", "qvanda.idx",
                                  keys::Quorvanda::key_a, keys::Quorvanda::key_b};

char read_setup_byte(const std::string& root) {
    try {
        const platform::volume_root volume(root);
        stdio_file setup;
        setup.open(volume, uzo.marker, false, false);
        char byte = 0;
        setup.check(std::fread(&byte, 1, 1, setup.handle()) != 1, "read");
        return byte;
    } catch (const intl_exception& e) {
        log(3, "%s", e.message().c_str());
        raise_sync_error(sync_error_code::device_read_failed);
    }
}

bool is_setup_type(const std::string& setup_type, char setup_byte) {
    return setup_type.size() == 1 && setup_type[0] == setup_byte;
}

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

nebro_device::nebro_device(event_base& interrupt_event) : nebro_device(interrupt_event, nebro) {}

uzo_device::uzo_device(event_base& interrupt_event) : nebro_device(interrupt_event, uzo) {}

bool uzo_device::open(const std::string& root) {
    setup_byte_ = read_setup_byte(root);
    return nebro_device::open(root);
}

bool uzo_device::write_course() {
    if (!is_setup_type(downloaded_course().setupType, setup_byte_)) {
        raise_sync_error(sync_error_code::course_variant_mismatch);
    }
    return nebro_device::write_course();
}

prang_device::prang_device(event_base& interrupt_event) : prang_device(interrupt_event, prang) {}

bool prang_device::write_course_name(course&) {
    return true;
}

morvane_device::morvane_device(event_base& interrupt_event)
    : prang_device(interrupt_event, morvane) {}

caltor2_device::caltor2_device(event_base& interrupt_event)
    : prang_device(interrupt_event, caltor2) {}

uzo2_device::uzo2_device(event_base& interrupt_event) : prang_device(interrupt_event, uzo2) {}

quorvanda_device::quorvanda_device(event_base& interrupt_event)
    : prang_device(interrupt_event, quorvanda) {}

void uzo_connection::download_files(request_context& request, USBDiskRestoreResponse& response,
                                    const std::string& root) {
    if (!is_setup_type(response.setupType, read_setup_byte(root))) {
        raise_sync_error(sync_error_code::course_variant_mismatch);
    }
    nebro_connection::download_files(request, response, root);
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
