// Layout rules with a measurer whose characters are as wide as the font
// size: line breaking, the tag style stack, links and their areas.
#include "client/controls/layout.h"

#include <gtest/gtest.h>

using namespace mirvo;

namespace {

class fixed_measurer final : public text_measurer {
public:
    int advance(const font_request& font, std::string_view utf8) override {
        int chars = 0;
        for (unsigned char c : utf8) chars += (c & 0xC0) != 0x80;
        return chars * font.size;
    }
    font_metrics metrics(const font_request& font) override { return {font.size - 2, 2}; }
};

struct laid_out {
    style_sheet sheet;
    colour_table colours;
    layout_options options;
    fixed_measurer measurer;
    html_layout layout;

    laid_out& run(std::string_view markup, int limit = 0) {
        options.width_limit = limit;
        layout = lay_out_html(markup, sheet, colours, options, measurer);
        return *this;
    }
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        for (const auto& l : layout.lines) {
            std::string s;
            for (const auto& it : l.items) s += it.text;
            out.push_back(s);
        }
        return out;
    }
    const layout_item& item(std::size_t line, std::size_t i) const { return layout.lines.at(line).items.at(i); }
};

using lines_t = std::vector<std::string>;

TEST(LineBreaking, BreakCharactersAndWidthLimits) {
    laid_out l;  // body text is 10 px per character
    EXPECT_EQ(l.run("aaa bbb ccc", 0).lines(), (lines_t{"aaa bbb ccc"}));
    EXPECT_EQ(l.layout.width, 110);
    EXPECT_EQ(l.run("aaa bbb ccc", 80).lines(), (lines_t{"aaa bbb ", "ccc"}));
    EXPECT_EQ(l.run("aaa bbb ccc", 79).lines(), (lines_t{"aaa ", "bbb ccc"}));
    EXPECT_EQ(l.run("well-known,fine!(x)y?z", 60).lines(), (lines_t{"well-", "known,", "fine!", "(x)y?z"}));
    EXPECT_EQ(l.layout.height, 4 * 10);
    EXPECT_EQ(l.layout.width, 60);
}

TEST(LineBreaking, WordsThatFitNowhereAreCut) {
    laid_out l;
    EXPECT_EQ(l.run("abcdefgh", 35).lines(), (lines_t{"abc", "def", "gh"}));
    // A word moves to a new line first and is cut only there.
    EXPECT_EQ(l.run("ab abcdefgh", 50).lines(), (lines_t{"ab ", "abcde", "fgh"}));
    // A word in several styles is one word.
    EXPECT_EQ(l.run("ab<b>cd</b>ef gh", 50).lines(), (lines_t{"abcde", "f gh"}));
    // Chinese text has no break characters: it is cut by character.
    EXPECT_EQ(l.run("\xD6\xD0\xCE\xC4\xD6\xD0\xCE\xC4", 25).lines(),
              (lines_t{"\xE4\xB8\xAD\xE6\x96\x87", "\xE4\xB8\xAD\xE6\x96\x87"}));
}

TEST(LineBreaking, EveryLineTakesAtLeastOneCharacter) {
    laid_out l;
    EXPECT_EQ(l.run("abc de", 1).lines(), (lines_t{"a", "b", "c", " ", "d", "e"}));
    EXPECT_EQ(l.run("<font size=40>x</font>y", 5).lines(), (lines_t{"x", "y"}));
}

TEST(LineBreaking, ExplicitBreaksTabsAndRules) {
    laid_out l;
    EXPECT_EQ(l.run("a<br>b<\n>c", 0).lines(), (lines_t{"a", "b", "c"}));
    EXPECT_EQ(l.run("a<br><br>b").lines(), (lines_t{"a", "", "b"}));
    EXPECT_EQ(l.layout.lines[1].height, 10);  // an empty line is as high as its font
    l.run("a<t>b");
    EXPECT_EQ(l.item(0, 1).x, 80);  // tab stops every eight spaces
    l.run("ab<hr size=3 width=50%>cd", 0);
    EXPECT_EQ(l.lines(), (lines_t{"ab", "", "cd"}));
    EXPECT_EQ(l.item(1, 0).what, layout_item::kind::rule);
    EXPECT_EQ(l.item(1, 0).height, 3);
    EXPECT_EQ(l.item(1, 0).rule_percent, 50);
}

TEST(Styles, NestedBoldItalicUnderlineStrike) {
    laid_out l;
    l.run("a<b>b<b>c</b>d</b>e");
    auto weights = [&] {
        std::vector<int> w;
        for (const auto& it : l.layout.lines[0].items) w.push_back(it.font.weight);
        return w;
    };
    EXPECT_EQ(weights(), (std::vector<int>{400, 800, 900, 800, 400}));
    l.run("<b><b><b>x</b></b></b>");
    EXPECT_EQ(weights(), (std::vector<int>{900}));

    l.run("<i>a<i>b</i>c</i><u>d<u>e</u></u><s>f<strike>g</strike></s>");
    const auto& items = l.layout.lines[0].items;
    ASSERT_EQ(items.size(), 7u);
    EXPECT_TRUE(items[0].font.italic);
    EXPECT_FALSE(items[1].font.italic);  // switched back inside the second i
    EXPECT_TRUE(items[2].font.italic);
    EXPECT_TRUE(items[3].font.underline);
    EXPECT_FALSE(items[4].font.underline);
    EXPECT_TRUE(items[5].font.strikeout);
    EXPECT_FALSE(items[6].font.strikeout);
}

TEST(Styles, FontColoursAndClosingTags) {
    laid_out l;
    l.run(
        "<font color=0x0000FF>r</font><font color=#0000FF>b</font><font color=red>x<font color=nosuch>y</font></font>");
    const auto& items = l.layout.lines[0].items;
    ASSERT_EQ(items.size(), 3u);  // x and y share their look
    EXPECT_EQ(items[0].colour, rgb(255, 0, 0));
    EXPECT_EQ(items[1].colour, rgb(0, 0, 255));
    EXPECT_EQ(items[2].colour, rgb(255, 0, 0));
    EXPECT_EQ(items[2].text, "xy");

    // Closing an outer tag ends what was opened inside it too.
    l.run("<font color=red size=20>a<b>b</font>c");
    EXPECT_EQ(l.item(0, 2).colour, rgb(0, 0, 0));
    EXPECT_EQ(l.item(0, 2).font.weight, 400);
    EXPECT_EQ(l.item(0, 1).font.size, 20);
    // A stray closing tag changes nothing.
    l.run("<b>a</i>b");
    EXPECT_EQ(l.lines(), (lines_t{"ab"}));
    EXPECT_EQ(l.item(0, 0).font.weight, 800);
}

TEST(Styles, SheetSelectorsAndSpans) {
    laid_out l;
    l.sheet.set("body", "font-size:12pt; color:navy; font-family:DejaVu Sans Mono");
    l.sheet.set(".warn", "color:#ff0000; font-weight:bold");
    l.sheet.set("bold", "color:green");
    l.run("a<span class=warn>w</span><big>g</big><b>k</b><h6>s</h6>");
    EXPECT_EQ(l.item(0, 0).font.size, 12);
    EXPECT_EQ(l.item(0, 0).font.family, "DejaVu Sans Mono");
    EXPECT_EQ(l.item(0, 0).colour, rgb(0, 0, 0x80));
    EXPECT_EQ(l.item(0, 1).colour, rgb(255, 0, 0));
    EXPECT_EQ(l.item(0, 1).font.weight, 700);
    EXPECT_EQ(l.item(0, 2).font.size, 15);
    EXPECT_EQ(l.item(0, 3).colour, rgb(0, 0x80, 0));  // the tag's own selector applies after it
    EXPECT_EQ(l.item(0, 4).font.size, 8);             // 65% of 12
}

TEST(Styles, DisabledTextTakesOneColour) {
    laid_out l;
    l.options.enabled = false;
    l.options.disabled_colour = rgb(1, 2, 3);
    l.run("a<font color=red>b</font><a href=\"http://h/\">c</a>");
    ASSERT_EQ(l.layout.lines[0].items.size(), 2u);
    EXPECT_EQ(l.item(0, 0).colour, rgb(1, 2, 3));
    EXPECT_EQ(l.item(0, 1).colour, rgb(1, 2, 3));  // the link differs only by its decoration
}

TEST(Links, TargetsStylesAndAreas) {
    laid_out l;
    l.sheet.set("a:link", "color:0xFF0000; text-decoration:none");
    l.sheet.set("a:hover", "color:0x0000FF; text-decoration:underline");
    l.options.hovered_link = 1;
    l.run("ab<a href=\"http://h/1\">cd</a> <a msg=\"hi\">ef</a><a>g</a>");
    ASSERT_EQ(l.layout.links.size(), 2u);
    EXPECT_EQ(l.layout.links[0].what, link_target::kind::address);
    EXPECT_EQ(l.layout.links[1].what, link_target::kind::message);
    EXPECT_EQ(l.layout.links[1].text, "hi");
    const auto& items = l.layout.lines[0].items;
    EXPECT_EQ(items[1].colour, rgb(0, 0, 255));
    EXPECT_FALSE(items[1].font.underline);
    EXPECT_EQ(items[3].colour, rgb(255, 0, 0));  // the hovered one
    EXPECT_TRUE(items[3].font.underline);

    auto areas = place_link_areas(l.layout, 100, 50, 500);
    ASSERT_EQ(areas.size(), 2u);
    EXPECT_EQ(areas[0].left, 120);
    EXPECT_EQ(areas[0].right, 139);
    EXPECT_EQ(areas[0].top, 50);
    EXPECT_EQ(areas[0].bottom, 59);
    EXPECT_EQ(link_at(areas, 139, 59), 0);  // inclusive bounds
    EXPECT_EQ(link_at(areas, 140, 59), -1);
    EXPECT_EQ(link_at(areas, 150, 50), 1);
    EXPECT_EQ(link_at(areas, 119, 55), -1);
}

TEST(Links, AWrappedLinkHasOneAreaPerLine) {
    laid_out l;
    l.run("<a href=\"http://h/\">abc <b>de</b>f ghi</a>", 80);
    EXPECT_EQ(l.lines(), (lines_t{"abc def ", "ghi"}));
    auto areas = place_link_areas(l.layout, 0, 0, 80);
    ASSERT_EQ(areas.size(), 2u);
    EXPECT_EQ(areas[0].right, 79);
    EXPECT_EQ(areas[1].top, 10);
    EXPECT_EQ(areas[1].link, 0);
}

TEST(Alignment, LinesAlignInTheirBox) {
    laid_out l;
    l.run("<center>ab</center><br><right>cd</right><br>ef");
    ASSERT_EQ(l.layout.lines.size(), 3u);
    EXPECT_EQ(line_offset(l.layout.lines[0], 100), 40);
    EXPECT_EQ(line_offset(l.layout.lines[1], 100), 80);
    EXPECT_EQ(line_offset(l.layout.lines[2], 100), 0);
    EXPECT_EQ(line_offset(l.layout.lines[1], 10), 0);  // never left of the box
}

TEST(Layout, StringResourcesAndPictures) {
    laid_out l;
    l.options.resource_string = [](int id) { return id == 281 ? std::string("\xD7\xA2\xB2\xE1") : std::string(); };
    l.run("<string idres=281><string idres=1 iddll=evil.dll><icon idres=204 srcdll=x handle=1 file=/etc/passwd>");
    EXPECT_EQ(l.lines(), (lines_t{"\xE6\xB3\xA8\xE5\x86\x8C"}));
    EXPECT_EQ(l.item(0, 1).what, layout_item::kind::image);
    EXPECT_EQ(l.item(0, 1).width, 16);
    EXPECT_EQ(l.item(0, 1).image_id, 204);
}

}  // namespace
