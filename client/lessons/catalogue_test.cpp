#include "client/lessons/catalogue.h"

#include "common/text/gbk.h"
#include "tests/support/lesson_test_service.h"

#include <gtest/gtest.h>

namespace mirvo {
namespace {

using testing::baselist_reply;
using testing::category_record;
using testing::lesson_record;
using testing::subcategory_record;

std::vector<std::string> titles(const catalogue& cat) {
    std::vector<std::string> out;
    for (const auto& e : cat.entries) out.push_back(e.title);
    return out;
}

TEST(Catalogue, ReadsThreeLevelsInReadingOrderWithParallelColumns) {
    const std::string reply = baselist_reply(
        {
            {1,
             {"Maths",
              {{"Basics", {{"Add", "m/add", "lesson", "a.swf"}, {"Sub", "m/sub", "lesson", ""}}},
               {"More", {{"Race", "games", "game", "race.exe"}}}}}},
            {2, {"Music", {{"Piano", {{"Scales", "mu/sc"}}}}}},
        },
        "12");
    const catalogue cat = read_catalogue(reply);
    EXPECT_EQ(cat.online_text, "12");
    ASSERT_EQ(cat.categories.size(), 2u);
    ASSERT_EQ(cat.categories[0].subcategories.size(), 2u);
    EXPECT_EQ(cat.categories[0].subcategories[1].title, "More");
    EXPECT_EQ(cat.categories[0].subcategories[1].first, 2u);
    EXPECT_EQ(cat.categories[0].subcategories[1].count, 1u);
    EXPECT_EQ(cat.categories[1].subcategories[0].first, 3u);
    EXPECT_EQ(titles(cat), (std::vector<std::string>{"Add", "Sub", "Race", "Scales"}));
    // Each lesson numbered 1 inside its own sub-category is found there only.
    EXPECT_EQ(cat.entries[2].folder, "games");
    EXPECT_EQ(cat.entries[2].kind, "game");
    EXPECT_EQ(cat.entries[2].file, "race.exe");
    EXPECT_EQ(cat.entries[3].folder, "mu/sc");
}

TEST(Catalogue, StopsAtTheFirstMissingNumberOnEveryLevel) {
    // Categories 1 and 3: only 1 is read.
    catalogue cat =
        read_catalogue(baselist_reply({{1, {"One", {{"S", {{"A", "a"}}}}}}, {3, {"Three", {{"S", {{"B", "b"}}}}}}}));
    ASSERT_EQ(cat.categories.size(), 1u);
    EXPECT_EQ(titles(cat), std::vector<std::string>{"A"});

    // A sub-category whose first lesson has an empty title holds no entries,
    // even with a second one behind it; the next sub-category still reads.
    cat = read_catalogue(
        baselist_reply({{1, {"One", {{"Empty", {{"", "x"}, {"Hidden", "h"}}}, {"Full", {{"C", "c"}}}}}}}));
    ASSERT_EQ(cat.categories[0].subcategories.size(), 2u);
    EXPECT_EQ(cat.categories[0].subcategories[0].count, 0u);
    EXPECT_EQ(titles(cat), std::vector<std::string>{"C"});
}

TEST(Catalogue, LooksEntriesUpByExactTextAndReadsOutsideAsEmpty) {
    const catalogue cat = read_catalogue(
        baselist_reply({{1, {"One", {{"S", {{"Same", "first"}, {"Same", "second"}, {"Other", "first"}}}}}}}));
    EXPECT_EQ(cat.find_title("Same"), 0u);
    EXPECT_EQ(cat.find_folder("first"), 0u);
    EXPECT_FALSE(cat.find_title("same").has_value());
    EXPECT_FALSE(cat.find_title("One.").has_value());
    EXPECT_EQ(cat.entry(1).folder, "second");
    EXPECT_EQ(cat.entry(3).title, "");
    EXPECT_EQ(cat.entry(static_cast<std::size_t>(-1)).kind, "");
}

TEST(Catalogue, FailedReplyAndChineseTitles) {
    const catalogue empty = read_catalogue("");
    EXPECT_TRUE(empty.entries.empty());
    EXPECT_TRUE(empty.categories.empty());
    EXPECT_EQ(empty.online_text, "");

    const std::string title = utf8_to_gbk("数学第一课");
    const catalogue cat = read_catalogue(baselist_reply({{1, {utf8_to_gbk("数学"), {{"S", {{title, "d"}}}}}}}));
    EXPECT_EQ(cat.categories[0].title, utf8_to_gbk("数学"));
    EXPECT_EQ(cat.find_title(title), 0u);
}

}  // namespace
}  // namespace mirvo
