// An answer that holds one course record of a model's kind beside the envelope.
#pragma once

#include "base/failures.h"
#include "cloud/sync_response.h"

namespace orvel {

template <typename Course>
class course_response : public sync_response {
public:
    void parse_root(const Json::Value& root, const std::string& text) override {
        sync_response::parse_root(root, text);
        if (!record.parse(root)) {
            raise_sync_error(sync_error_code::bad_response, "Course parsing failed for input %s",
                             text.c_str());
        }
    }

    void reset() override {
        sync_response::reset();
        record.reset();
    }

    Course record;
};

}  // namespace orvel
