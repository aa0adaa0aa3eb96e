#include "common/text/gbk.h"

#include <gtest/gtest.h>

using namespace mirvo;

namespace {
// "中" is D6 D0 in GBK; "\" (5C) is a valid trail byte, as in "刓" = 84 5C.
const std::string zhong = "\xD6\xD0";
const std::string trail_backslash = "\x84\x5C";
const std::string trail_letter = "\x84\x41";  // a trail byte that looks like 'A'
}  // namespace

TEST(Gbk, ConvertsBothWaysAndReplacesWhatCannotBeConverted) {
    EXPECT_EQ(gbk_to_utf8(zhong + "a"), "中a");
    EXPECT_EQ(utf8_to_gbk("中a"), zhong + "a");
    EXPECT_EQ(utf8_to_gbk("Mirvo学习娱乐空间"), "Mirvo\xD1\xA7\xCF\xB0\xD3\xE9\xC0\xD6\xBF\xD5\xBC\xE4");
    // An emoji has no GBK form: one "?" for the whole character, the rest survives.
    EXPECT_EQ(utf8_to_gbk("a😀b中"), "a?b" + zhong);
    // A lone lead byte at the end and an invalid pair become "?".
    EXPECT_EQ(gbk_to_utf8("ab\xD6"), "ab?");
    EXPECT_EQ(gbk_to_utf8("\xFF"
                          "x"),
              "?x");
    EXPECT_EQ(gbk_to_utf8(""), "");
}

TEST(Gbk, SearchesNeverMatchInsideADoubleByteCharacter) {
    std::string s = "a" + trail_backslash + "b\\c";
    EXPECT_EQ(gbk_find(s, "\\"), 4u);
    EXPECT_EQ(gbk_rfind_char(trail_backslash, '\\'), std::string::npos);
    EXPECT_EQ(gbk_find(trail_letter + "A", "A"), 2u);
    EXPECT_EQ(gbk_find("abcabc", "c", 3), 5u);
    EXPECT_EQ(gbk_find("abc", "x"), std::string::npos);

    auto parts = gbk_split("x" + trail_backslash + "\\y/z", "\\/");
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0], "x" + trail_backslash);
    EXPECT_EQ(parts[2], "z");

    EXPECT_EQ(gbk_replace_char(trail_backslash + "\\", '\\', '/'), trail_backslash + "/");
    EXPECT_EQ(gbk_replace_all("a.html" + zhong + ".html", ".html", ".swf"), "a.swf" + zhong + ".swf");
}

TEST(Gbk, PrefixCountsCharactersNotBytes) {
    const std::string zhong = "\xD6\xD0";  // one double-byte character
    EXPECT_EQ(gbk_prefix("a" + zhong + "b", 2), "a" + zhong);
    EXPECT_EQ(gbk_prefix(zhong + zhong, 1), zhong);
    EXPECT_EQ(gbk_prefix("ab", 5), "ab");
    EXPECT_EQ(gbk_prefix("ab", 0), "");
    // A lead byte at the very end has no trail: it is a character of its own.
    EXPECT_EQ(gbk_prefix("a\xD6", 2), "a\xD6");
}

TEST(Gbk, FoldsOnlyAsciiLetters) { EXPECT_EQ(gbk_to_lower("AbC" + trail_letter + "Z"), "abc" + trail_letter + "z"); }
