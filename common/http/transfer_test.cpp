#include "common/http/transfer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace mirvo::http_detail {
namespace {

TEST(ParseHttpUrl, AcceptsOnlyWellFormedHttp) {
    for (const char* bad : {"https://host/x", "host/x", "ftp://host/x", "http:/host/x", "http://", "http:///x",
                            "http://host:99999/", "http://host:8a/", "http://[::1/", "http://ho st/"})
        EXPECT_FALSE(parse_http_url(bad)) << bad;

    auto u = parse_http_url("HTTP://Example.org:8080/a//b/../c?user=\xd5\xc5&p=1#f");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->host, "Example.org");
    EXPECT_EQ(u->port, 8080);
    EXPECT_EQ(u->authority, "Example.org:8080");
    // The object is kept byte for byte: double slashes, dot segments, GBK, fragment.
    EXPECT_EQ(u->object, "/a//b/../c?user=\xd5\xc5&p=1#f");
}

TEST(ParseHttpUrl, FillsInDefaults) {
    auto bare = parse_http_url("http://host");
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->port, 80);
    EXPECT_EQ(bare->object, "/");

    auto query = parse_http_url("http://user:pw@host:81?x=1");
    ASSERT_TRUE(query);
    EXPECT_EQ(query->authority, "host:81");
    EXPECT_EQ(query->object, "/?x=1");

    auto v6 = parse_http_url("http://[::1]:8000/p");
    ASSERT_TRUE(v6);
    EXPECT_EQ(v6->host, "[::1]");
    EXPECT_EQ(v6->port, 8000);
}

TEST(RequestTarget, EscapesOnlyWhatWouldBreakTheRequestLine) {
    // GBK lead and trail bytes (a trail byte may be "\" or "@") pass untouched.
    EXPECT_EQ(request_target_bytes("/\xd5\xc5\x95\x5c?n=\x81\x40%41"), "/\xd5\xc5\x95\x5c?n=\x81\x40%41");
    EXPECT_EQ(request_target_bytes("/a b\r\nX-Evil: 1\t\x7f"), "/a%20b%0D%0AX-Evil:%201%09%7F");
}

class ProxyEnvironment : public ::testing::Test {
protected:
    void SetUp() override {
        for (std::size_t i = 0; i < std::size(names); ++i) {
            const char* v = std::getenv(names[i]);
            saved_[i] = v ? std::optional<std::string>(v) : std::nullopt;
            unsetenv(names[i]);
        }
    }
    void TearDown() override {
        for (std::size_t i = 0; i < std::size(names); ++i) {
            if (saved_[i])
                setenv(names[i], saved_[i]->c_str(), 1);
            else
                unsetenv(names[i]);
        }
    }
    static constexpr const char* names[] = {"http_proxy", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"};
    std::optional<std::string> saved_[std::size(names)];
};

TEST_F(ProxyEnvironment, FollowsProxyAndNoProxyVariables) {
    EXPECT_EQ(environment_proxy_for("example.org"), "");

    setenv("ALL_PROXY", "http://fallback:3128", 1);
    EXPECT_EQ(environment_proxy_for("example.org"), "http://fallback:3128");
    setenv("http_proxy", "http://proxy:8080", 1);
    EXPECT_EQ(environment_proxy_for("example.org"), "http://proxy:8080");

    setenv("NO_PROXY", "localhost, .internal.net,10.0.0.1", 1);
    EXPECT_EQ(environment_proxy_for("localhost"), "");
    EXPECT_EQ(environment_proxy_for("a.internal.net"), "");
    EXPECT_EQ(environment_proxy_for("internal.net"), "");
    EXPECT_EQ(environment_proxy_for("notinternal.net"), "http://proxy:8080");
    EXPECT_EQ(environment_proxy_for("10.0.0.1"), "");
    EXPECT_EQ(environment_proxy_for("10.0.0.11"), "http://proxy:8080");

    setenv("no_proxy", "*", 1);  // the lower-case name wins
    EXPECT_EQ(environment_proxy_for("example.org"), "");
}

TEST(HeaderBlock, AddsOnlyHeadersTheRequestLacks) {
    EXPECT_EQ(headers_to_add("Accept: text/*\r\nUser-Agent: MFC_Tear_Sample\r\n"),
              (std::vector<std::string>{"Accept: text/*"}));
    EXPECT_EQ(headers_to_add("Accept-Language:en, bg\r\nuser-agent: x\r\nHost: h\r\n\r\nA: b"),
              (std::vector<std::string>{"Accept-Language:en, bg", "A: b"}));
}

}  // namespace
}  // namespace mirvo::http_detail
