// A parsed JSON document read member by member; every failure carries one code.
#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <memory>
#include <string>

#include "base/failures.h"

namespace orvel {

template <typename Code>
class json_value {
public:
    json_value() = default;
    json_value(std::shared_ptr<rapidjson::Document> document, Code code)
        : document_(std::move(document)), code_(code) {}

    bool is_object() const { return document_ && document_->IsObject(); }

    bool has(const char* key) const { return find(key) != nullptr; }

    // A required string member.
    std::string string_member(const char* key) const {
        const rapidjson::Value& value = required(key);
        if (!value.IsString()) {
            wrong_type(key);
        }
        return std::string(value.GetString(), value.GetStringLength());
    }

    // A required integer member in 0 .. 2^32 - 1; 3.0 and -1 are refused.
    std::uint32_t uint32_member(const char* key) const {
        const rapidjson::Value& value = required(key);
        if (!value.IsUint()) {
            wrong_type(key);
        }
        return value.GetUint();
    }

    // An optional string member: untouched when absent, refused when not a string.
    void optional_string_member(const char* key, std::string& out) const {
        const rapidjson::Value* value = find(key);
        if (value == nullptr) {
            return;
        }
        if (!value->IsString()) {
            wrong_type(key);
        }
        out.assign(value->GetString(), value->GetStringLength());
    }

    const std::shared_ptr<rapidjson::Document>& document() const { return document_; }
    Code code() const { return code_; }

private:
    const rapidjson::Value* find(const char* key) const {
        // A root that is not an object has no members, so its keys read as missing.
        if (!is_object()) {
            return nullptr;
        }
        const auto member = document_->FindMember(key);
        return member == document_->MemberEnd() ? nullptr : &member->value;
    }

    const rapidjson::Value& required(const char* key) const {
        const rapidjson::Value* value = find(key);
        if (value == nullptr) {
            raise_sync_error(code_, "field %s is missing", key);
        }
        return *value;
    }

    [[noreturn]] void wrong_type(const char* key) const {
        raise_sync_error(code_, "wrong type of field %s", key);
    }

    std::shared_ptr<rapidjson::Document> document_;
    Code code_{};
};

}  // namespace orvel
