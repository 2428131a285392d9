#include "devices/serial/hx62_models.h"

#include <optional>

#include "base/log_hub.h"
#include "devices/model_keys.h"
#include "devices/serial/hx62_course_name.h"

namespace orvel {

namespace {

void log_name(std::uint32_t course_id, byte_vector& data, const model_key& data_key,
              const model_key& name_key) {
    if (const std::optional<std::string> name =
            descramble_course(data, course_id, data_key, name_key)) {
        log(3, "%s", name->c_str());
    }
}

}  // namespace

void HXZelPlusDevice::check_course_data(std::uint32_t course_id, byte_vector data) {
    namespace keys = model_keys::HXZelPlus;
    if (const std::optional<std::string> name =
            descramble_course(data, course_id, keys::data_key, keys::name_key)) {
        log(3, "%d: %s", static_cast<int>(course_id), name->c_str());
    }
}

void HXBrevantoDevice::check_course_data(std::uint32_t course_id, byte_vector data) {
    log_name(course_id, data, model_keys::HXBrevanto::data_key, model_keys::HXBrevanto::name_key);
}

void HXZelXDevice::check_course_data(std::uint32_t course_id, byte_vector data) {
    log_name(course_id, data, model_keys::HXZelX::data_key, model_keys::HXZelX::name_key);
}

void HXZelXSDevice::check_course_data(std::uint32_t course_id, byte_vector data) {
    log_name(course_id, data, model_keys::HXZelXS::data_key, model_keys::HXZelXS::name_key);
}

void HXQuillanDevice::check_course_data(std::uint32_t course_id, byte_vector data) {
    log_name(course_id, data, model_keys::HXQuillan::data_key, model_keys::HXQuillan::name_key);
}

}  // namespace orvel
