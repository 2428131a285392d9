#include "sync/log_upload.h"

#include <gtest/gtest.h>

#include "base/failures.h"
#include "sim/test_http_server.h"
#include "support/temp_folder.h"

namespace orvel::test {
namespace {

struct upload_setup {
    upload_setup() {
        server.add_user("uk", "us");
        write_file(log_path, "first\n");
        server.accept_put("/up/log");
    }

    void answer(const std::string& members) {
        server.reply_rest("MemberLogUploadURL",
                          http_reply::json(R"({"Status":1,"ErrorMessage":"")" + members + "}"));
    }

    connection_settings member(std::uint32_t id) const {
        return {server.host(), "uk", "us", "", id};
    }

    std::vector<recorded_request> address_requests() const {
        std::vector<recorded_request> out;
        for (const recorded_request& request : server.requests()) {
            if (request.action == "MemberLogUploadURL") {
                out.push_back(request);
            }
        }
        return out;
    }

    test_http_server server;
    temp_folder folder;
    const std::string log_path = folder / "OrvelSync2_Service.log";
    event interrupt;
};

TEST(LogUpload, SendsACopyOfTheLogToTheAddressTheServiceGives) {
    upload_setup cloud;
    cloud.answer(R"(,"logURL":")" + cloud.server.url("/up/log") + "\"");

    // No member, or one that is negative as a signed number: nothing is asked or copied.
    for (std::uint32_t id : {0u, 2147483648u, 4294967295u}) {
        upload_log(cloud.member(id), cloud.log_path, cloud.interrupt);
    }
    EXPECT_TRUE(cloud.server.requests().empty());
    EXPECT_EQ(read_file(cloud.log_path + "_tosend"), "");

    upload_log(cloud.member(2147483647u), cloud.log_path, cloud.interrupt);
    const auto asked = cloud.address_requests();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].method, "POST");
    EXPECT_EQ(asked[0].verdict, signature_verdict::valid) << asked[0].target;
    EXPECT_EQ(asked[0].body, "{\"id_relationship\":2147483647}\n");
    EXPECT_EQ(cloud.server.put_body("/up/log"), std::optional<std::string>("first\n"));
    EXPECT_EQ(read_file(cloud.log_path + "_tosend"), "first\n");

    // The next upload replaces the copy, which stays behind again.
    write_file(cloud.log_path, "second, longer\n");
    write_file(cloud.log_path + "_tosend", "a stale copy, longer than the log\n");
    upload_log(cloud.member(9), cloud.log_path, cloud.interrupt);
    EXPECT_EQ(cloud.server.put_body("/up/log"), std::optional<std::string>("second, longer\n"));
    EXPECT_EQ(read_file(cloud.log_path + "_tosend"), "second, longer\n");
    EXPECT_EQ(cloud.address_requests().size(), 2u);
}

TEST(LogUpload, FailuresOfTheAddressExchangeAreCoded) {
    struct row {
        std::string name;
        http_reply reply;
        std::uint32_t code;
        std::string message;  // "<answer>" stands for the answer text
    };
    const std::string missing = R"({"Status":1,"ErrorMessage":""})";
    const std::string number = R"({"Status":1,"ErrorMessage":"","logURL":5})";
    const std::vector<row> rows = {
        {"missing", http_reply::json(missing), 400, "uploadURL must be present in " + missing},
        {"number", http_reply::json(number), 400, "urls and files must be a string in " + number},
        {"dropped", http_reply::dropped(), 300, ""},
        {"refused", http_reply::text(500, "no"), 300, ""},
    };
    for (const row& r : rows) {
        upload_setup cloud;
        cloud.server.reply_rest("MemberLogUploadURL", r.reply);
        try {
            upload_log(cloud.member(5), cloud.log_path, cloud.interrupt);
            ADD_FAILURE() << r.name;
        } catch (const extl_exception& e) {
            EXPECT_EQ(code_value(e.code()), r.code) << r.name;
            EXPECT_EQ(e.message(), r.message) << r.name;
        }
        EXPECT_FALSE(cloud.server.put_body("/up/log")) << r.name;
    }
}

}  // namespace
}  // namespace orvel::test
