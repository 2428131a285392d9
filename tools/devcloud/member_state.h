// The development cloud's members: credentials printed at start, one product (a unit) of
// every model each, and what the service keeps about them between requests.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "devcloud/model_catalogue.h"

namespace orvel::devcloud {

struct product {
    std::uint32_t id = 0;  // the page's id_memberProduct
    std::string model;
    std::string serial_number;
};

struct member {
    std::string name;
    std::string user_key;
    std::string user_secret;
    std::vector<product> products;
};

const std::vector<member>& sample_members();

// What the service remembers of a product.
struct product_state {
    // The course count the service takes the unit for (HX62: its sync index).
    std::uint32_t course_count = 0;
    int installed_version = 0;
    std::size_t ephemeris_confirmed = 0;
};

class member_state {
public:
    member_state();

    // The member of the user key; nullptr when none.
    const member* find_member(const std::string& user_key) const;
    // The member's product of that id; nullptr when it is not the member's.
    const product* find_product(const member& owner, std::uint32_t id) const;
    const product* find_serial(const std::string& serial_number) const;

    product_state state(std::uint32_t product_id) const;
    void set_course_count(std::uint32_t product_id, std::uint32_t count);
    void set_installed_version(std::uint32_t product_id, int version);
    void set_ephemeris_confirmed(std::uint32_t product_id, std::size_t count);

    // The member's rounds ("user_score" elements); scores a unit sends replace the rounds
    // of the same round id and add the others.
    Json::Value rounds(const std::string& user_key) const;
    void keep_rounds(const std::string& user_key, const Json::Value& sent);
    // The member's articles: an object of categories.
    Json::Value articles(const std::string& user_key) const;

private:
    void change(std::uint32_t product_id, const std::function<void(product_state&)>& how);

    mutable std::mutex mutex_;
    std::vector<std::pair<std::uint32_t, product_state>> products_;
    std::vector<std::pair<std::string, Json::Value>> rounds_;
};

}  // namespace orvel::devcloud
