#include "server/query.h"

#include <gtest/gtest.h>

namespace mirvo::server {
namespace {

TEST(PercentDecode, DecodesBytesAndKeepsEverythingElse) {
    EXPECT_EQ(percent_decode("%D6%D0%CE%C4"), "\xD6\xD0\xCE\xC4");
    EXPECT_EQ(percent_decode("a+b"), "a+b");  // "+" is a plus, not a blank
    EXPECT_EQ(percent_decode("100%"), "100%");
    EXPECT_EQ(percent_decode("%zz%4"), "%zz%4");
    EXPECT_EQ(percent_decode("%20%2f"), " /");
    EXPECT_EQ(percent_decode("\xD6\xD0"), "\xD6\xD0");  // raw GBK passes through
    EXPECT_EQ(percent_decode("%00x"), std::string("\0x", 2));
}

TEST(Query, ReadsTheClientsRequestShape) {
    query q = query::parse("user=%D5%C5&password=123456789012345&lesson_id=0010&lesson_dir=&action=baselist");
    EXPECT_EQ(q.get("user"), "\xD5\xC5");
    EXPECT_EQ(q.get("password"), "123456789012345");
    EXPECT_TRUE(q.has("lesson_dir"));
    EXPECT_EQ(q.get("lesson_dir"), "");
    EXPECT_EQ(q.get("action"), "baselist");
    EXPECT_FALSE(q.has("type"));
    EXPECT_EQ(q.get("type"), "");
}

TEST(Query, EmptyActionIsPresent) {
    query q = query::parse("user=a&password=1&lesson_id=0010&lesson_dir=&action=");
    EXPECT_TRUE(q.has("action"));
    EXPECT_EQ(q.get("action"), "");
    EXPECT_FALSE(query::parse("user=a&password=1").has("action"));
}

TEST(Query, UnescapedUserNameMayHoldAmpersandsAndBlanks) {
    query q = query::parse("user=tom & jerry&x=1&password=42&action=login");
    EXPECT_EQ(q.get("user"), "tom & jerry&x=1");
    EXPECT_EQ(q.get("password"), "42");
    EXPECT_EQ(q.get("action"), "login");

    query page = query::parse("user=a&b&pw=secret&page=gonggao.htm");
    EXPECT_EQ(page.get("user"), "a&b");
    EXPECT_EQ(page.get("pw"), "secret");
    EXPECT_EQ(page.get("page"), "gonggao.htm");
}

TEST(Query, SuggestionContentRunsToTheEnd) {
    query q = query::parse("user=a&password=1&action=save_suggest&type=6&content=a&b=c\r\n\xC4\xE3%26");
    EXPECT_EQ(q.get("type"), "6");
    EXPECT_EQ(q.get("content"), "a&b=c\r\n\xC4\xE3&");
}

TEST(Query, OddPiecesDoNotConfuseIt) {
    query q = query::parse("&&=x&novalue&action=ad&");
    EXPECT_TRUE(q.has("novalue"));
    EXPECT_EQ(q.get("action"), "ad");
    EXPECT_TRUE(query::parse("").pairs().empty());
}

TEST(SplitTarget, SplitsAtTheFirstQuestionMark) {
    auto [p, q] = split_target("/service.aspx?user=a?b");
    EXPECT_EQ(p, "/service.aspx");
    EXPECT_EQ(q, "user=a?b");
    auto [p2, q2] = split_target("/mirvo.xml");
    EXPECT_EQ(p2, "/mirvo.xml");
    EXPECT_EQ(q2, "");
}

}  // namespace
}  // namespace mirvo::server
