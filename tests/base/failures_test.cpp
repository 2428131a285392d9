#include "base/failures.h"

#include <gtest/gtest.h>

namespace orvel {
namespace {

TEST(Failures, CodedFailureCarriesItsFormattedMessageAndCode) {
    try {
        raise_sync_error(sync_error_code::invalid_command, "field %s is missing", "userKey");
        FAIL();
    } catch (const extl_exception& e) {
        EXPECT_EQ(e.code(), sync_error_code::invalid_command);
        EXPECT_EQ(e.message(), "field userKey is missing");
    }
    const std::string long_text(5000, 'x');
    try {
        raise_sync_error(sync_error_code::bad_response, "Response: %d %s", 7, long_text.c_str());
        FAIL();
    } catch (const extl_exception& e) {
        EXPECT_EQ(e.message(), "Response: 7 " + long_text);
    }
    try {
        raise_sync_error(sync_error_code::no_device_selected);
        FAIL();
    } catch (const extl_exception& e) {
        EXPECT_EQ(code_value(e.code()), 1300u);
        EXPECT_TRUE(e.message().empty());
    }
}

TEST(Failures, HttpFailuresAreCaughtAsInternalOnes) {
    try {
        throw http_exception("lost");
    } catch (const intl_exception& e) {
        EXPECT_EQ(e.message(), "lost");
        EXPECT_NE(dynamic_cast<const http_exception*>(&e), nullptr);
    }
    EXPECT_EQ(failed_text("seek"), "seek failed.");
}

}  // namespace
}  // namespace orvel
