#include "devices/usbdisk/nar_file.h"

#include <cctype>
#include <vector>

#include "base/log_hub.h"

namespace orvel {

namespace {

constexpr std::int64_t seconds_per_day = 86400;

bool is_leap_year(std::int64_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int days_in_month(std::int64_t year, int month) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && is_leap_year(year) ? 29 : days[month - 1];
}

// Days from 1970-01-01 in the proleptic Gregorian calendar, counted in 400-year eras of
// 146097 days that begin on 1 March, so that the leap day ends its year.
std::int64_t days_from_epoch(std::int64_t year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t year_of_era = year - era * 400;
    const std::int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

}  // namespace

std::int64_t article_seconds(const article_date& date) {
    if (date.month < 1 || date.month > 12 || date.day < 1 ||
        date.day > days_in_month(date.year, date.month)) {
        return 0;
    }
    return days_from_epoch(date.year, date.month, date.day) * seconds_per_day;
}

bool category_names_are_safe(const std::vector<article_category>& categories) {
    for (const article_category& category : categories) {
        const std::string& name = category.name;
        if (name.find_first_of(std::string("/\\\0", 3)) != std::string::npos ||
            name.find("..") != std::string::npos) {
            log(3, "Article category %s is no file name", name.c_str());
            return false;
        }
    }
    return true;
}

std::string nar_file_name(const std::string& category, std::size_t index) {
    std::string name = "NAR/" + category + static_cast<char>('0' + index) + ".NAR";
    for (char& c : name) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return name;
}

void write_nar_record(data_stream& stream, const article_record& article) {
    const auto seconds = static_cast<std::uint64_t>(article_seconds(article.date));
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < 8; ++i) {
        bytes.push_back(static_cast<std::uint8_t>(seconds >> (8 * i)));
    }
    bytes.push_back(article.rating);
    const std::string text = article.title + "\n" + article.subtitle + "\n" + article.content +
                             "\n" + article.author + "\n\n";
    bytes.insert(bytes.end(), text.begin(), text.end());
    stream.write(bytes);
}

}  // namespace orvel
