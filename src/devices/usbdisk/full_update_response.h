// The answers of "DeviceRestore/" and "DeviceFullDataDetails/": the files the unit must
// hold, and with a full update the member's round scores and the news articles.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cloud/sync_response.h"
#include "devices/usbdisk/articles.h"
#include "devices/usbdisk/user_scores.h"

namespace orvel {

class USBDiskRestoreResponse : public sync_response {
public:
    void parse_root(const Json::Value& root, const std::string& text) override;
    void reset() override;

    std::vector<std::string> urls;
    std::vector<std::string> files;  // below the unit's root, one for each of urls
    std::string setupType;
    std::int32_t version = -1;
};

class USBDiskFullUpdateResponse : public USBDiskRestoreResponse {
public:
    void parse_root(const Json::Value& root, const std::string& text) override;
    void reset() override;

    USBDiskUserScores user_scores;
    USBDiskArticles articles;
};

}  // namespace orvel
