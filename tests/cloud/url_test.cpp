#include "cloud/url.h"

#include <gtest/gtest.h>

namespace orvel {
namespace {

TEST(split_url, takes_scheme_host_port_and_object_apart) {
    const url_parts parts = split_url("http://files.example:8080/a/b");
    EXPECT_EQ(parts.scheme, "http");
    EXPECT_EQ(parts.host, "files.example");
    EXPECT_EQ(parts.port, 8080);
    EXPECT_EQ(parts.object, "a/b");

    const url_parts secure = split_url("https://files.example/a/b");
    EXPECT_EQ(secure.scheme, "https");
    EXPECT_EQ(secure.host, "files.example");
    EXPECT_EQ(secure.port, 0);
    EXPECT_EQ(secure.object, "a/b");
}

TEST(split_url, without_scheme_or_slash_the_host_stays_empty) {
    const url_parts no_scheme = split_url("files.example/a/b");
    EXPECT_EQ(no_scheme.scheme, "");
    EXPECT_EQ(no_scheme.host, "files.example");
    EXPECT_EQ(no_scheme.port, 0);
    EXPECT_EQ(no_scheme.object, "a/b");

    const url_parts bare = split_url("files.example:81");
    EXPECT_EQ(bare.host, "");
    EXPECT_EQ(bare.port, 0);
    EXPECT_EQ(bare.object, "files.example:81");

    const url_parts scheme_only = split_url("http://files.example");
    EXPECT_EQ(scheme_only.scheme, "http");
    EXPECT_EQ(scheme_only.host, "");
    EXPECT_EQ(scheme_only.object, "files.example");
}

TEST(split_url, port_digits_end_at_the_first_other_character) {
    EXPECT_EQ(split_url("http://h:81x/o").port, 81);
    EXPECT_EQ(split_url("http://h:81x/o").host, "h");
    EXPECT_EQ(split_url("http://h:/o").port, 0);
    EXPECT_EQ(split_url("http://h:/o").host, "h");
    // Only the first "/" after the host splits; the query stays in the object.
    EXPECT_EQ(split_url("http://h/a/b?x=/y").object, "a/b?x=/y");
}

TEST(split_url, a_number_too_large_for_a_port_names_none) {
    EXPECT_EQ(split_url("http://h:70000/o").port, 0);
    EXPECT_EQ(split_url("http://h:65535/o").port, 65535);
}

}  // namespace
}  // namespace orvel
