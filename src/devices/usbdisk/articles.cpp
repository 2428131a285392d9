#include "devices/usbdisk/articles.h"

#include <cstdio>

#include "base/log_hub.h"
#include "devices/usbdisk/answer_values.h"

namespace orvel {

namespace {

bool refuse(const char* text) {
    log(3, "%s", text);
    return false;
}

bool has_article_fields(const Json::Value& article) {
    return article.isObject() && article["content"].isString() && article["author"].isString() &&
           is_integral_value(article["rating"]) && article["title"].isString() &&
           article["date"].isString() && article["subtitle"].isString();
}

bool fill_article(const Json::Value& article, article_record& record) {
    if (!has_article_fields(article)) {
        return refuse("wrong article's field type\r\n");
    }
    char separator = 0;
    article_date& date = record.date;
    if (std::sscanf(article["date"].asCString(), "%d %c %d %c %d", &date.year, &separator,
                    &date.month, &separator, &date.day) < 5) {
        return refuse("date parsing failed\r\n");
    }
    record.content = article["content"].asString();
    record.author = article["author"].asString();
    record.title = article["title"].asString();
    record.subtitle = article["subtitle"].asString();
    record.rating = static_cast<std::uint8_t>(low_bits(article["rating"]));
    return true;
}

}  // namespace

bool USBDiskArticles::fill(const Json::Value& answer) {
    if (!answer.isMember("articles")) {
        return true;
    }
    const Json::Value& all = answer["articles"];
    if (!all.isNull() && !all.isObject()) {
        return refuse("articles must be an object\r\n");
    }
    if (all.empty()) {
        return refuse("articles can't be empty\r\n");
    }
    for (const std::string& name : all.getMemberNames()) {
        const Json::Value& list = all[name];
        if (!list.isNull() && !list.isArray()) {
            return refuse("category must be an array\r\n");
        }
        article_category category{name, std::vector<article_record>(list.size())};
        for (Json::ArrayIndex i = 0; i < list.size(); ++i) {
            if (!fill_article(list[i], category.articles[i])) {
                return false;
            }
        }
        categories.push_back(std::move(category));
    }
    return true;
}

}  // namespace orvel
