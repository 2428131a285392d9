#include "platform/crypto.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <climits>

#include "base/log_hub.h"

namespace orvel::platform {

namespace {

void log_crypto_error(const char* operation) {
    const unsigned long error = ERR_get_error();
    char text[256] = {};
    if (error != 0) {
        ERR_error_string_n(error, text, sizeof text);
    }
    ERR_clear_error();
    log(3, "%s: %lu. %s", operation, error, text);
}

}  // namespace

bool hmac_sha256(const std::string& key, const std::string& message,
                 std::vector<std::uint8_t>& mac) {
    mac.assign(EVP_MAX_MD_SIZE, 0);
    unsigned int length = 0;
    if (key.size() > INT_MAX || HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
                                     reinterpret_cast<const unsigned char*>(message.data()),
                                     message.size(), mac.data(), &length) == nullptr) {
        mac.clear();
        log_crypto_error("HMAC");
        return false;
    }
    mac.resize(length);
    return true;
}

std::string base64_encode(const std::uint8_t* bytes, std::size_t count) {
    std::string text;
    // EVP_EncodeBlock takes an int count; feed it in whole groups of three bytes.
    constexpr std::size_t piece = 3 * 1024 * 1024;
    for (std::size_t done = 0; done < count; done += piece) {
        const std::size_t size = std::min(piece, count - done);
        std::string part(4 * ((size + 2) / 3) + 1, '\0');
        const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(part.data()),
                                            bytes + done, static_cast<int>(size));
        text.append(part.data(), static_cast<std::size_t>(written));
    }
    return text;
}

}  // namespace orvel::platform
