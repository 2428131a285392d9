#include "link/origin_policy.h"

#include <gtest/gtest.h>

namespace orvel {
namespace {

TEST(OriginPolicy, BuiltInListAllowsLoopbackPagesOnAnyPortAndNothingElse) {
    const origin_policy policy;
    for (const char* origin :
         {"http://localhost", "http://localhost:8080", "https://localhost:443",
          "HTTPS://LocalHost:10443", "http://127.0.0.1:5173", "https://127.0.0.1"}) {
        EXPECT_TRUE(policy.allows(origin)) << origin;
    }
    for (const char* origin :
         {"null", "", "https://evil.example", "http://localhost.evil.example",
          "http://127.0.0.1.evil.example:80", "ws://localhost:8080", "file://", "localhost:8080",
          "http://localhost:8080/page", "http://user@localhost", "http://localhost:http",
          "http://[::1]:8080", "http://localhost:*"}) {
        EXPECT_FALSE(policy.allows(origin)) << origin;
    }
}

TEST(OriginPolicy, MemberSiteEntriesMatchSchemeHostAndPortExactly) {
    const origin_policy policy(
        "https://members.example.com, https://*.golf.example:8443,http://[::1]:8080");
    EXPECT_EQ(policy.size(), 3u);
    EXPECT_TRUE(policy.allows("https://members.example.com"));
    EXPECT_TRUE(policy.allows("https://members.example.com:443"));
    EXPECT_FALSE(policy.allows("http://members.example.com"));
    EXPECT_FALSE(policy.allows("https://members.example.com:8443"));
    EXPECT_FALSE(policy.allows("https://evil-members.example.com"));
    EXPECT_FALSE(policy.allows("https://example.com"));

    EXPECT_TRUE(policy.allows("https://eu.golf.example:8443"));
    EXPECT_TRUE(policy.allows("https://a.b.golf.example:8443"));
    EXPECT_FALSE(policy.allows("https://golf.example:8443"));  // the domain itself is not a sub
    EXPECT_FALSE(policy.allows("https://evilgolf.example:8443"));
    EXPECT_FALSE(policy.allows("https://eu.golf.example"));
    EXPECT_FALSE(policy.allows("https://*.golf.example:8443"));

    EXPECT_TRUE(policy.allows("http://[::1]:8080"));
}

TEST(OriginPolicy, EntriesThatCannotBeReadAllowNothing) {
    const origin_policy policy("members.example.com,https://,https://a/b,https://*:443,*");
    EXPECT_EQ(policy.size(), 0u);
    EXPECT_FALSE(policy.allows("https://members.example.com"));
    EXPECT_FALSE(policy.allows("https://a"));
}

}  // namespace
}  // namespace orvel
