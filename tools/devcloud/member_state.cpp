#include "devcloud/member_state.h"

#include <algorithm>

#include "devcloud/sample_layout.h"

namespace orvel::devcloud {

namespace {

member make_member(const std::string& name, const std::string& key, const std::string& secret,
                   std::uint32_t first_id) {
    member m{name, key, secret, {}};
    std::uint32_t id = first_id;
    for (const model_info& model : models()) {
        m.products.push_back({id, model.name, "ORV-" + std::to_string(id)});
        ++id;
    }
    return m;
}

Json::Value round(std::int64_t id, const std::string& date, const std::string& course,
                  std::uint32_t course_id, int base) {
    Json::Value r(Json::objectValue);
    r["round_id"] = static_cast<Json::Int64>(id);
    r["round_date"] = date;
    r["course_name"] = course;
    r["course_id"] = course_id;
    r["slope_rating"] = 128;
    r["course_rating"] = 71.4;
    r["teebox"] = 2;
    Json::Value& holes = r["score"] = Json::Value(Json::arrayValue);
    for (int hole = 0; hole < 18; ++hole) {
        Json::Value h(Json::objectValue);
        h["score"] = base + (hole * 7) % 3;
        h["putts"] = 1 + hole % 2;
        holes.append(h);
    }
    return r;
}

Json::Value article(const std::string& title, const std::string& subtitle,
                    const std::string& content, const std::string& date, int rating) {
    Json::Value a(Json::objectValue);
    a["title"] = title;
    a["subtitle"] = subtitle;
    a["content"] = content;
    a["author"] = "Orvel development cloud";
    a["date"] = date;
    a["rating"] = rating;
    return a;
}

}  // namespace

const std::vector<member>& sample_members() {
    static const std::vector<member> members = {
        make_member("Ada Example", "dev-ada", "ada-secret-1", 101),
        // Her HX62 products start with a course count the units do not have, so that the
        // first course update shows the service's sync index being repaired.
        make_member("Ben Example", "dev-ben", "ben-secret-2", 201),
    };
    return members;
}

member_state::member_state() {
    for (const member& m : sample_members()) {
        for (const product& p : m.products) {
            product_state state;
            const model_info* model = find_model(p.model);
            if (model != nullptr && model->family == course_family::hx62) {
                state.course_count = m.user_key == "dev-ben" ? 60 : hx62_record_count;
            }
            products_.emplace_back(p.id, state);
        }
        Json::Value rounds(Json::arrayValue);
        rounds.append(round(9001, "2024-05-18 09:42:00", "Alder Creek Golf Club", 1001, 4));
        rounds.append(round(9002, "2024-06-02 14:05:00", "Birchwood Links", 1002, 5));
        rounds_.emplace_back(m.user_key, rounds);
    }
}

const member* member_state::find_member(const std::string& user_key) const {
    for (const member& m : sample_members()) {
        if (m.user_key == user_key) {
            return &m;
        }
    }
    return nullptr;
}

const product* member_state::find_product(const member& owner, std::uint32_t id) const {
    for (const product& p : owner.products) {
        if (p.id == id) {
            return &p;
        }
    }
    return nullptr;
}

const product* member_state::find_serial(const std::string& serial_number) const {
    for (const member& m : sample_members()) {
        for (const product& p : m.products) {
            if (p.serial_number == serial_number) {
                return &p;
            }
        }
    }
    return nullptr;
}

product_state member_state::state(std::uint32_t product_id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [id, state] : products_) {
        if (id == product_id) {
            return state;
        }
    }
    return product_state{};
}

void member_state::set_course_count(std::uint32_t product_id, std::uint32_t count) {
    change(product_id, [count](product_state& state) { state.course_count = count; });
}

void member_state::set_installed_version(std::uint32_t product_id, int version) {
    change(product_id, [version](product_state& state) { state.installed_version = version; });
}

void member_state::set_ephemeris_confirmed(std::uint32_t product_id, std::size_t count) {
    change(product_id, [count](product_state& state) { state.ephemeris_confirmed = count; });
}

void member_state::change(std::uint32_t product_id,
                          const std::function<void(product_state&)>& how) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [id, state] : products_) {
        if (id == product_id) {
            how(state);
        }
    }
}

Json::Value member_state::rounds(const std::string& user_key) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [key, rounds] : rounds_) {
        if (key == user_key) {
            return rounds;
        }
    }
    return Json::Value(Json::arrayValue);
}

void member_state::keep_rounds(const std::string& user_key, const Json::Value& sent) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [key, rounds] : rounds_) {
        if (key != user_key) {
            continue;
        }
        for (const Json::Value& incoming : sent) {
            bool replaced = false;
            for (Json::Value& kept : rounds) {
                if (kept["round_id"] == incoming["round_id"]) {
                    kept = incoming;
                    replaced = true;
                }
            }
            if (!replaced) {
                rounds.append(incoming);
            }
        }
    }
}

Json::Value member_state::articles(const std::string& user_key) const {
    Json::Value categories(Json::objectValue);
    const member* m = find_member(user_key);
    const std::string name = m != nullptr ? m->name : "member";
    categories["news"].append(article("Course of the month", "Alder Creek reopens",
                                      "The back nine has new greens.", "2024-06-01", 4));
    categories["news"].append(article("Welcome, " + name, "Your units are up to date",
                                      "Full updates bring these articles.", "2024-06-03", 5));
    categories["tips"].append(article("Reading greens", "Uphill putts break less",
                                      "Walk the line from the low side.", "2024-05-20", 3));
    return categories;
}

}  // namespace orvel::devcloud
