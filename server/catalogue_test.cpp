#include "server/catalogue.h"

#include "common/protocol/request.h"
#include "common/text/gbk.h"
#include "common/xmltext/xmltext.h"

#include <gtest/gtest.h>

namespace mirvo::server {
namespace {

const char* const sample =
    "# comment\n"
    "movie_folder\tmovies\r\n"
    "category\t英语\n"
    "subcategory\t基础\n"
    "lesson\t字母\teng01\n"
    "file\t01.swf\t0\n"
    "file\t02.swf\t-1\n"
    "file\tx_ad.swf\n"
    "program\t游戏\tg\tgame\tgame.exe\n"
    "category\t数学\n"
    "subcategory\t加法\n"
    "lesson\t一\tmath01\n"
    "subcategory\t空的\n"
    "ad\t广告一\thttp://h/a.htm\n"
    "ad\t广告二\thttp://h/b.htm\n";

TEST(Catalogue, ParsesTheAdminFormatIntoGbk) {
    catalogue c;
    std::string error;
    ASSERT_TRUE(parse_catalogue(sample, c, error)) << error;
    EXPECT_EQ(c.movie_folder, "movies");
    ASSERT_EQ(c.categories.size(), 2u);
    EXPECT_EQ(c.categories[0].title, utf8_to_gbk("英语"));
    const auto& entries = c.categories[0].subcategories[0].entries;
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].type, "lesson");
    ASSERT_EQ(entries[0].files.size(), 3u);
    EXPECT_EQ(entries[0].files[1].delay_time, "-1");
    EXPECT_EQ(entries[0].files[2].delay_time, "");
    EXPECT_EQ(entries[1].type, "game");
    EXPECT_EQ(entries[1].file_name, "game.exe");
    EXPECT_EQ(c.categories[1].subcategories.size(), 2u);
    ASSERT_EQ(c.ads.size(), 2u);
    EXPECT_EQ(c.ads[1].url, "http://h/b.htm");
}

TEST(Catalogue, RefusesWhatTheRepliesCannotCarry) {
    struct bad_case {
        const char* text;
        const char* expect;
    } cases[] = {
        {"movie_folder\tm\ncategory\ta\"b\n", "double quote"},
        {"movie_folder\tm\ncategory\t<b>\n", "markup"},
        {"movie_folder\tm\ncategory\tc\nsubcategory\ts\nlesson\tt\tmy_type_dir\n", "\"type\""},
        {"movie_folder\tm\nad\tsee\thttp://h/text.htm\n", "\"text\""},
        {"movie_folder\tm\ncategory\tc\nsubcategory\ts\nlesson\tt\t../up\n", "inside the site"},
        {"movie_folder\t/abs\n", "inside the site"},
        {"movie_folder\tm\ncategory\tc\nsubcategory\ts\nlesson\tt\td\nfile\ta/b.swf\t0\n", "plain file name"},
        {"movie_folder\tm\ncategory\tc\nsubcategory\ts\nlesson\tt\td\nfile\ta.swf\tsoon\n", "whole number"},
        {"movie_folder\tm\ncategory\t\n", "empty"},
        {"movie_folder\tm\nsubcategory\ts\n", "line 2"},
        {"movie_folder\tm\ncategory\tc\nsubcategory\ts\nfile\ta.swf\n", "outside a lesson"},
        {"movie_folder\tm\ncategory\tc\nsubcategory\ts\nprogram\tp\td\tlesson\tp.exe\n", "may not be"},
        {"movie_folder\tm\nbogus\tx\n", "unknown record"},
        {"category\tc\n", "movie folder"},
    };
    for (const auto& bc : cases) {
        catalogue c;
        std::string error;
        EXPECT_FALSE(parse_catalogue(bc.text, c, error)) << bc.text;
        EXPECT_NE(error.find(bc.expect), std::string::npos) << bc.text << " -> " << error;
    }
}

// The client reads the catalogue with its own record reader: categories,
// sub-categories and entries must come back exactly, and the empty
// sub-category must not end the reading of the categories.
TEST(Catalogue, RenderedRepliesReadBackWithTheClientsReader) {
    catalogue c;
    std::string error;
    ASSERT_TRUE(parse_catalogue(sample, c, error)) << error;
    const std::string doc = "<online_num>3</online_num>\r\n" + render_catalogue(c);

    std::vector<std::string> seen;
    read_records(doc, "sort_list", "title", record_stop::first_empty, [&](const std::string& s) {
        seen.push_back("C:" + xml_get_value(doc, "sort_list", "order", s, "title"));
        const std::string cat = xml_get_value(doc, "sort_list", "order", s);
        read_records(cat, "lesson_list", "title", record_stop::first_empty, [&](const std::string& l) {
            seen.push_back("S:" + xml_get_value(cat, "lesson_list", "order", l, "title"));
            const std::string sub = xml_get_value(cat, "lesson_list", "order", l);
            read_records(sub, "lesson", "title", record_stop::first_empty, [&](const std::string& e) {
                seen.push_back("E:" + xml_get_value(sub, "lesson", "order", e, "title") + "|" +
                               xml_get_value(sub, "lesson", "order", e, "dir") + "|" +
                               xml_get_value(sub, "lesson", "order", e, "type") + "|" +
                               xml_get_value(sub, "lesson", "order", e, "file_name"));
            });
        });
    });
    const std::vector<std::string> expected = {
        "C:" + utf8_to_gbk("英语"),
        "S:" + utf8_to_gbk("基础"),
        "E:" + utf8_to_gbk("字母") + "|eng01|lesson|",
        "E:" + utf8_to_gbk("游戏") + "|g|game|game.exe",
        "C:" + utf8_to_gbk("数学"),
        "S:" + utf8_to_gbk("加法"),
        "E:" + utf8_to_gbk("一") + "|math01|lesson|",
        "S:" + utf8_to_gbk("空的"),
    };
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(xml_get_value(doc, "online_num"), "3");
}

}  // namespace
}  // namespace mirvo::server
