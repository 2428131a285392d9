#include "platform/crypto.h"

#include <windows.h>
// bcrypt.h and wincrypt.h need windows.h first.
#include <bcrypt.h>
#include <wincrypt.h>

#include <algorithm>
#include <climits>

#include "base/log_hub.h"
#include "platform/system_error.h"

namespace orvel::platform {

namespace {

class algorithm_provider {
public:
    algorithm_provider() {
        status_ = ::BCryptOpenAlgorithmProvider(&handle_, BCRYPT_SHA256_ALGORITHM, nullptr,
                                                BCRYPT_ALG_HANDLE_HMAC_FLAG);
    }
    ~algorithm_provider() {
        if (BCRYPT_SUCCESS(status_)) {
            ::BCryptCloseAlgorithmProvider(handle_, 0);
        }
    }
    algorithm_provider(const algorithm_provider&) = delete;
    algorithm_provider& operator=(const algorithm_provider&) = delete;

    NTSTATUS status() const { return status_; }
    BCRYPT_ALG_HANDLE get() const { return handle_; }

private:
    BCRYPT_ALG_HANDLE handle_ = nullptr;
    NTSTATUS status_;
};

class hash_object {
public:
    hash_object(BCRYPT_ALG_HANDLE algorithm, const std::string& key) {
        // The call keeps no pointer to the key; it only reads it.
        auto* secret = reinterpret_cast<UCHAR*>(const_cast<char*>(key.data()));
        status_ = ::BCryptCreateHash(algorithm, &handle_, nullptr, 0, secret,
                                     static_cast<ULONG>(key.size()), 0);
    }
    ~hash_object() {
        if (BCRYPT_SUCCESS(status_)) {
            ::BCryptDestroyHash(handle_);
        }
    }
    hash_object(const hash_object&) = delete;
    hash_object& operator=(const hash_object&) = delete;

    NTSTATUS status() const { return status_; }
    BCRYPT_HASH_HANDLE get() const { return handle_; }

private:
    BCRYPT_HASH_HANDLE handle_ = nullptr;
    NTSTATUS status_;
};

bool succeeded(NTSTATUS status, const char* step) {
    if (BCRYPT_SUCCESS(status)) {
        return true;
    }
    log(3, "%s failed: 0x%08lx", step, static_cast<unsigned long>(status));
    return false;
}

}  // namespace

bool hmac_sha256(const std::string& key, const std::string& message,
                 std::vector<std::uint8_t>& mac) {
    mac.clear();
    constexpr ULONG length = 32;  // SHA-256's digest
    if (key.size() > ULONG_MAX || message.size() > ULONG_MAX) {
        log(3, "%s failed: 0x%08lx", "BCryptCreateHash",
            static_cast<unsigned long>(STATUS_INVALID_PARAMETER));
        return false;
    }
    const algorithm_provider provider;
    if (!succeeded(provider.status(), "BCryptOpenAlgorithmProvider")) {
        return false;
    }
    const hash_object hash(provider.get(), key);
    if (!succeeded(hash.status(), "BCryptCreateHash")) {
        return false;
    }
    auto* bytes = reinterpret_cast<UCHAR*>(const_cast<char*>(message.data()));
    if (!succeeded(::BCryptHashData(hash.get(), bytes, static_cast<ULONG>(message.size()), 0),
                   "BCryptHashData")) {
        return false;
    }
    std::vector<std::uint8_t> result(length);
    if (!succeeded(::BCryptFinishHash(hash.get(), result.data(), length, 0), "BCryptFinishHash")) {
        return false;
    }
    mac = std::move(result);
    return true;
}

std::string base64_encode(const std::uint8_t* bytes, std::size_t count) {
    std::string text;
    // The call takes a 32-bit count; whole groups of three bytes keep the pieces joinable.
    constexpr std::size_t piece = 3 * 1024 * 1024;
    constexpr DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    for (std::size_t done = 0; done < count; done += piece) {
        const auto size = static_cast<DWORD>(std::min(piece, count - done));
        DWORD length = 0;
        if (::CryptBinaryToStringA(bytes + done, size, flags, nullptr, &length) == FALSE) {
            log_system_error("CryptBinaryToStringA");
            return {};
        }
        std::string part(length, '\0');
        if (::CryptBinaryToStringA(bytes + done, size, flags, part.data(), &length) == FALSE) {
            log_system_error("CryptBinaryToStringA");
            return {};
        }
        text.append(part.data(), length);
    }
    return text;
}

}  // namespace orvel::platform
