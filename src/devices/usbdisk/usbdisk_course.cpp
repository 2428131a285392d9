#include "devices/usbdisk/usbdisk_course.h"

#include "base/failures.h"
#include "base/log_hub.h"
#include "cloud/base64.h"

namespace orvel {

bool USBDiskCourse::parse(const Json::Value& root) {
    if (!course::parse(root)) {
        return false;
    }
    if (root.isMember("glsData")) {
        const Json::Value& gls = root["glsData"];
        if (!gls.isString()) {
            log(3, "glsData must be a string\r\n");
            return false;
        }
        glsData = decode_base64(gls.asString());
    }
    if (root.isMember("setupType")) {
        const Json::Value& setup = root["setupType"];
        if (!setup.isString()) {
            raise_sync_error(sync_error_code::bad_response, "setupType must be a string");
        }
        setupType = setup.asString();
    }
    return true;
}

void USBDiskCourse::reset() {
    course::reset();
    glsData.clear();
    setupType.clear();
}

}  // namespace orvel
