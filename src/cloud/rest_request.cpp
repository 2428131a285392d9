#include "cloud/rest_request.h"

#include <boost/algorithm/string/erase.hpp>
#include <boost/algorithm/string/predicate.hpp>
#include <boost/algorithm/string/replace.hpp>

#include "base/events.h"
#include "base/format.h"
#include "base/log_hub.h"
#include "cloud/http_transport.h"
#include "cloud/json_text.h"
#include "platform/clock.h"
#include "platform/crypto.h"

namespace orvel {

namespace {

constexpr const char* rest_headers =
    "Accept: application/json\r\nContent-Type: application/json\r\n";

// action + key + "/" + userKey + "/1.0/2.0/HmacSHA256/", the part every path and every
// string to sign begin with.
std::string signed_prefix(const request_context& context, const std::string& action) {
    return action + context.key + "/" + context.settings.userKey + "/1.0/2.0/HmacSHA256/";
}

// The page names the service by its host, which the service answers in plain HTTP, or by
// the URL of its root when it is reached in another way (over TLS).
std::string service_url(const std::string& server, const std::string& path) {
    for (const std::string scheme : {"https://", "http://"}) {
        if (boost::algorithm::starts_with(server, scheme)) {
            std::string root = server;
            while (root.size() > scheme.size() && root.back() == '/') {
                root.pop_back();
            }
            return root + path;
        }
    }
    return "http://" + server + path;
}

}  // namespace

std::string utc_timestamp(std::time_t when) {
    std::tm utc{};
    if (!platform::utc_time(when, utc)) {
        return std::string();
    }
    return format_text("%02d%02d%02d%02d%02d%02d+0000", utc.tm_year + 1900 - 2000, utc.tm_mon + 1,
                       utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
}

std::string utc_timestamp() {
    return utc_timestamp(std::time(nullptr));
}

std::string utc_date_text(std::time_t when) {
    std::tm utc{};
    if (!platform::utc_time(when, utc)) {
        return std::string();
    }
    return format_text("%04d-%02d-%02d %02d:%02d:%02d", utc.tm_year + 1900, utc.tm_mon + 1,
                       utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
}

std::string request_body_text(const Json::Value& body) {
    return compact_json(body) + "\n";
}

std::string sign_request(const request_context& context, const std::string& action,
                         const std::string& timestamp) {
    const std::string to_sign = signed_prefix(context, action) + timestamp + "/JSON";
    log(3, "String to sign: %s", to_sign.c_str());

    std::vector<std::uint8_t> mac;
    if (!platform::hmac_sha256(context.secret + context.settings.userSecret, to_sign, mac)) {
        return std::string();  // the service refuses the request; it is sent all the same
    }
    // The signature travels inside the path: no "/", "+" or padding.
    std::string signature = platform::base64_encode(mac.data(), mac.size());
    boost::algorithm::replace_all(signature, "/", "_");
    boost::algorithm::replace_all(signature, "+", "-");
    boost::algorithm::erase_all(signature, "=");
    return signature;
}

void rest_post(request_context& context, const std::string& action, Json::Value body) {
    body["id_relationship"] = static_cast<Json::Int64>(context.settings.id_memberProduct);
    const std::string text = request_body_text(body);
    const std::string timestamp = utc_timestamp();
    const std::string signature = sign_request(context, action, timestamp);
    const std::string path =
        "/rest/action/" + signed_prefix(context, action) + signature + "/" + timestamp + "/JSON";
    log(3, "Request: %s", path.c_str());

    context.response.clear();
    const std::string url = service_url(context.settings.server, path);
    empty_event no_interrupt;
    http_request(url, context.response, rest_headers, "POST", text.data(),
                 static_cast<std::uint32_t>(text.size()), no_interrupt, max_rest_answer);
}

}  // namespace orvel
