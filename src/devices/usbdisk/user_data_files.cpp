// The member's data on a USB-disk unit: score files up and back, article files down.
#include "base/failures.h"
#include "base/format.h"
#include "base/log_hub.h"
#include "devices/usbdisk/kvsp_file.h"
#include "devices/usbdisk/nar_file.h"
#include "devices/usbdisk/staged_file.h"
#include "devices/usbdisk/usbdisk_connection.h"
#include "platform/file_stream.h"
#include "platform/volume_root.h"

namespace orvel {

namespace {

// The unit numbers its score files with two digits.
constexpr unsigned score_file_count = 100;

const char* const score_folder = "SP/";

void make_folder(const platform::volume_root& volume, const char* folder) {
    if (!volume.create_folders(folder)) {
        throw intl_exception("Can't create the folder " + volume.path_of(folder));
    }
}

}  // namespace

void USBDiskConnection::read_sp_files(const std::string& root, std::string& text) {
    const platform::volume_root volume(root);
    make_folder(volume, score_folder);
    std::vector<user_score_record> records;
    for (unsigned n = 0; n < score_file_count; ++n) {
        const std::string name = format_text("%sKVSP%02u.SP", score_folder, n);
        const platform::entry_kind kind = volume.entry(name).kind;
        if (kind == platform::entry_kind::other) {
            throw intl_exception("Can't read the score file " + volume.path_of(name));
        }
        if (kind == platform::entry_kind::file) {
            file_stream file(volume, name, 0);
            file.rewind();
            records.push_back(read_kvsp_record(file));
        }
    }
    text = user_scores_text(records);
}

void USBDiskConnection::write_sp_files(const std::vector<user_score_record>& scores) {
    const std::string root = find_device();
    if (root.empty()) {
        // A bare "SP/" would put the member's scores in the working directory.
        throw intl_exception("Can't find file " + disk().identity());
    }
    const platform::volume_root volume(root);
    make_folder(volume, score_folder);
    for (std::size_t i = 0; i < scores.size(); ++i) {
        staged_file file(volume, format_text("%sKVSP%02zu.SP", score_folder, i));
        write_kvsp_record(file.stream(), scores[i]);
        file.put_in_place();
    }
}

bool USBDiskConnection::write_nar(const std::string& root,
                                  const std::vector<article_category>& categories) {
    if (!category_names_are_safe(categories)) {
        return false;
    }
    const platform::volume_root volume(root);
    for (const article_category& category : categories) {
        std::size_t count = category.articles.size();
        if (count > max_articles_per_category) {
            log(3, "Category %s: %zu of its %zu articles left out, a unit shows %zu",
                category.name.c_str(), count - max_articles_per_category, count,
                max_articles_per_category);
            count = max_articles_per_category;
        }
        for (std::size_t j = 0; j < count; ++j) {
            make_folder(volume, "NAR/");
            staged_file file(volume, nar_file_name(category.name, j));
            write_nar_record(file.stream(), category.articles[j]);
            file.put_in_place();
        }
    }
    return true;
}

}  // namespace orvel
