// News articles of the full-update answer's "articles": categories of articles the unit shows.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>
#include <vector>

namespace orvel {

// A calendar day as the service sends it; not checked here.
struct article_date {
    int year = 0;
    int month = 0;
    int day = 0;
};

struct article_record {
    std::string content;
    std::string author;
    std::string title;
    std::string subtitle;
    std::uint8_t rating = 0;
    article_date date;
};

struct article_category {
    std::string name;
    std::vector<article_record> articles;
};

class USBDiskArticles {
public:
    // Reads the answer's "articles", categories in byte order of their names; false after
    // logging why. No member is no articles.
    bool fill(const Json::Value& answer);
    void reset() { categories.clear(); }

    std::vector<article_category> categories;
};

}  // namespace orvel
