// The member's data on a USB-disk unit: score files up and back, article files down.
#include <boost/filesystem/operations.hpp>

#include "app/failures.h"
#include "app/format.h"
#include "app/log_hub.h"
#include "devices/usbdisk/kvsp_file.h"
#include "devices/usbdisk/nar_file.h"
#include "devices/usbdisk/usbdisk_connection.h"
#include "platform/file_ops.h"
#include "platform/file_stream.h"

namespace orvel {

namespace {

// The unit numbers its score files with two digits.
constexpr unsigned score_file_count = 100;

std::string score_folder(const std::string& root) {
    std::string folder = root + "SP/";
    std::string folders = folder;
    platform::create_dirs(folders);
    return folder;
}

bool is_file(const std::string& path) {
    boost::system::error_code error;
    return boost::filesystem::exists(path, error) && !boost::filesystem::is_directory(path, error);
}

}  // namespace

void USBDiskConnection::read_sp_files(const std::string& root, std::string& text) {
    const std::string folder = score_folder(root);
    std::vector<user_score_record> records;
    for (unsigned n = 0; n < score_file_count; ++n) {
        const std::string path = format_text("%sKVSP%02u.SP", folder.c_str(), n);
        if (is_file(path)) {
            file_stream file(path, 0);
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
    const std::string folder = score_folder(root);
    for (std::size_t i = 0; i < scores.size(); ++i) {
        file_stream file(format_text("%sKVSP%02zu.SP", folder.c_str(), i), file_stream::create_new);
        write_kvsp_record(file, scores[i]);
        file.file().close();
    }
}

bool USBDiskConnection::write_nar(const std::string& root,
                                  const std::vector<article_category>& categories) {
    if (!category_names_are_safe(categories)) {
        return false;
    }
    for (const article_category& category : categories) {
        std::size_t count = category.articles.size();
        if (count > max_articles_per_category) {
            log(3, "Category %s: %zu of its %zu articles left out, a unit shows %zu",
                category.name.c_str(), count - max_articles_per_category, count,
                max_articles_per_category);
            count = max_articles_per_category;
        }
        for (std::size_t j = 0; j < count; ++j) {
            std::string folders = root + "NAR/";
            platform::create_dirs(folders);
            file_stream file(root + nar_file_name(category.name, j), file_stream::create_new);
            write_nar_record(file, category.articles[j]);
            file.file().close();
        }
    }
    return true;
}

}  // namespace orvel
