// The markup reader, colours and style language without a display.
#include "client/controls/markup.h"

#include "client/controls/colour.h"
#include "client/controls/links.h"
#include "client/controls/style.h"
#include "client/controls/texture.h"
#include "common/text/gbk.h"

#include <gtest/gtest.h>

#include <vector>

using namespace mirvo;

namespace {

std::string texts(const std::vector<markup_token>& tokens) {
    std::string out;
    for (const auto& t : tokens) {
        if (t.what == markup_token::kind::text)
            out += t.text;
        else
            out += std::string("[") + (t.closing ? "/" : "") + t.name + "]";
    }
    return out;
}

TEST(Tokenizer, LessThanSignsThatAreText) {
    EXPECT_EQ(texts(tokenize_markup("a<<b")), "a<b");
    EXPECT_EQ(texts(tokenize_markup("a&lt;b")), "a<b");
    EXPECT_EQ(texts(tokenize_markup("a<")), "a<");
    // No ">" anywhere after it: a literal, and the rest of the text survives.
    EXPECT_EQ(texts(tokenize_markup("<b>1 < 2")), "[b]1 < 2");
    EXPECT_EQ(texts(tokenize_markup("x <b y")), "x <b y");
}

TEST(Tokenizer, EntitiesBecomeTheirCharacters) {
    EXPECT_EQ(texts(tokenize_markup("&amp;&gt;&quot;&nbsp;")), "&>\" ");
    EXPECT_EQ(texts(tokenize_markup("&copy;&euro;&trade;&bull;")), "\u00A9\u20AC\u2122\u2022");
    // Unknown or unterminated entities stay as written.
    EXPECT_EQ(texts(tokenize_markup("&foo; & &amp")), "&foo; & &amp");
    // Entities in attribute values are left alone: addresses keep their "&".
    auto t = tokenize_markup("<a href=\"x?a=1&amp;b=2\">k</a>");
    EXPECT_EQ(*t[0].attribute("href"), "x?a=1&amp;b=2");
}

TEST(Tokenizer, TagsAndAttributes) {
    auto t = tokenize_markup("<FONT color=0x0000FF face='Ar ial' size=\"120%\" bare>x</font >");
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].name, "font");
    EXPECT_FALSE(t[0].closing);
    EXPECT_EQ(*t[0].attribute("color"), "0x0000FF");
    EXPECT_EQ(*t[0].attribute("face"), "Ar ial");
    EXPECT_EQ(*t[0].attribute("size"), "120%");
    EXPECT_EQ(*t[0].attribute("bare"), "");
    EXPECT_FALSE(t[0].attribute("weight"));
    EXPECT_TRUE(t[2].closing);
    EXPECT_EQ(t[2].name, "font");
    // The name ends at "=" too; a tag made of a line feed or a tab is a break or a tab.
    EXPECT_EQ(tokenize_markup("<a=1>")[0].name, "a");
    EXPECT_EQ(lookup_tag(tokenize_markup("<\n>")[0].name).kind, tag_kind::line_break);
    EXPECT_EQ(lookup_tag(tokenize_markup("<\t>")[0].name).kind, tag_kind::tab);
    // An unterminated quote runs to the end of the tag.
    EXPECT_EQ(*tokenize_markup("<a href=\"http://x>y")[0].attribute("href"), "http://x");
}

TEST(Tokenizer, GbkTextComesOutAsUtf8) {
    std::string gbk = utf8_to_gbk("<a href=\"http://h/\xE4\xB8\xAD\">\xE6\xB3\xA8\xE5\x86\x8C</a>");  // 中, 注册
    auto t = tokenize_markup(gbk);
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[1].text, "\xE6\xB3\xA8\xE5\x86\x8C");
    EXPECT_EQ(*t[0].attribute("href"), utf8_to_gbk("http://h/\xE4\xB8\xAD"));  // addresses stay GBK
}

TEST(TagMap, VocabularyAndSelectors) {
    EXPECT_EQ(lookup_tag("b").style, "bold");
    EXPECT_EQ(lookup_tag("em").kind, tag_kind::italic);
    EXPECT_EQ(lookup_tag("strike").kind, tag_kind::strikeout);
    EXPECT_EQ(lookup_tag("middle").kind, tag_kind::valign_middle);
    EXPECT_EQ(lookup_tag("h6").style, "h6");
    EXPECT_EQ(lookup_tag("a").style, "a:link");
    EXPECT_EQ(lookup_tag("table").kind, tag_kind::unknown);
}

TEST(Colours, BothWrittenFormsAndNames) {
    colour_table names;
    EXPECT_EQ(names.size(), 168u);
    EXPECT_EQ(parse_colour("#0000FF", names), rgb(0, 0, 255));
    EXPECT_EQ(parse_colour("#ff9900", names), rgb(255, 0x99, 0));
    // Numbers are window-system values 0x00BBGGRR in any base.
    EXPECT_EQ(parse_colour("0x0000FF", names), rgb(255, 0, 0));
    EXPECT_EQ(parse_colour("0xFF0000", names), rgb(0, 0, 255));
    EXPECT_EQ(parse_colour("255", names), rgb(255, 0, 0));
    EXPECT_EQ(parse_colour("0377", names), rgb(255, 0, 0));
    EXPECT_EQ(parse_colour("0xFFFFFFFF", names), rgb(255, 255, 255));
    EXPECT_EQ(parse_colour("lightgoldenrodyellow", names), rgb(0xFA, 0xFA, 0xD2));
    EXPECT_EQ(parse_colour("rebeccapurple", names), std::nullopt);
    EXPECT_EQ(parse_colour("Red", names), std::nullopt);  // names are matched exactly
    EXPECT_EQ(parse_colour("#00F", names), std::nullopt);
    EXPECT_EQ(parse_colour("", names), std::nullopt);
    EXPECT_EQ(colour_hex(rgb(0, 0, 255)), "0xFF0000");
}

TEST(Colours, DesktopRolesComeFromTheDesktop) {
    system_colours desk{};
    for (std::size_t i = 0; i < desk.size(); ++i) desk[i] = static_cast<colour_ref>(i + 1);
    colour_table names(desk);
    EXPECT_EQ(names.find("activeborder"), 1u);
    EXPECT_EQ(names.find("windowtext"), 28u);
    EXPECT_EQ(names.find("white"), rgb(255, 255, 255));
}

TEST(Colours, StepsAndTints) {
    EXPECT_EQ(colour_step(rgb(255, 0, 0), rgb(0, 0, 255), 0, 5), rgb(255, 0, 0));
    EXPECT_EQ(colour_step(rgb(255, 0, 0), rgb(0, 0, 255), 4, 5), rgb(0, 0, 255));
    EXPECT_EQ(colour_step(rgb(0, 0, 0), rgb(200, 100, 50), 1, 3), rgb(100, 50, 25));
    EXPECT_EQ(tint_colour(rgb(0, 0, 0), rgb(200, 100, 50), 50), rgb(100, 50, 25));
    EXPECT_EQ(tint_colour(rgb(10, 20, 30), rgb(200, 100, 50), 250), rgb(200, 100, 50));  // clamped to 100
}

TEST(StyleLanguage, Properties) {
    colour_table names;
    text_style s;
    apply_declarations(s,
                       "font-size: 12pt; font-family:\"Courier\"; font-style:oblique; font-weight:bolder; "
                       "text-align:center; color:#ff0000; background-color:0x00FF00; text-decoration:underline; "
                       "vertical-align:vcenter; border-width:thick; border-style:dashed; margin:3; padding:4",
                       names);
    EXPECT_EQ(s.font_size, 12);
    EXPECT_EQ(s.font_family, "Courier");
    EXPECT_TRUE(s.italic);
    EXPECT_EQ(s.font_weight, 900);
    EXPECT_EQ(s.align, h_align::center);
    EXPECT_EQ(s.colour, rgb(255, 0, 0));
    EXPECT_EQ(s.background, rgb(0, 255, 0));
    EXPECT_TRUE(s.underline);
    EXPECT_EQ(s.valign, v_align::middle);
    EXPECT_EQ(s.border_width, 4);
    EXPECT_EQ(s.border_style, border_kind::dashed);
    EXPECT_EQ(s.margin, 3);
    EXPECT_EQ(s.padding, 4);

    apply_declarations(s, "background-color:transparent; text-decoration:line-through", names);
    EXPECT_FALSE(s.background);
    EXPECT_TRUE(s.strikeout);
    EXPECT_FALSE(s.underline);
}

TEST(StyleLanguage, EmptyAndUnknownValues) {
    colour_table names;
    text_style s;
    apply_declarations(s, "font-style:italic; text-align:right; vertical-align:top; color:red; font-size:14", names);
    // Empty keyword values mean the first keyword; unknown keywords, empty
    // colours and empty numbers change nothing.
    apply_declarations(s, "text-align:middle; color:nosuchcolour; font-size:", names);
    EXPECT_EQ(s.align, h_align::right);
    EXPECT_EQ(s.colour, rgb(255, 0, 0));
    EXPECT_EQ(s.font_size, 14);
    apply_declarations(s, "font-style:; text-align:; vertical-align:; color:", names);
    EXPECT_FALSE(s.italic);
    EXPECT_EQ(s.align, h_align::left);
    EXPECT_EQ(s.valign, v_align::baseline);
    EXPECT_EQ(s.colour, rgb(255, 0, 0));
    // Keywords are case-sensitive: "Italic" is unknown.
    apply_declarations(s, "font-style:Italic", names);
    EXPECT_FALSE(s.italic);
    // font-weight: empty is normal, anything else a number (0 when none).
    apply_declarations(s, "font-weight:bold", names);
    EXPECT_EQ(s.font_weight, 700);
    apply_declarations(s, "font-weight:", names);
    EXPECT_EQ(s.font_weight, 400);
    apply_declarations(s, "font-weight:Bold", names);
    EXPECT_EQ(s.font_weight, 0);
    apply_declarations(s, "font-weight:650", names);
    EXPECT_EQ(s.font_weight, 650);
    // Items without a colon and stray separators are skipped.
    apply_declarations(s, ";;junk; color : blue ;", names);
    EXPECT_EQ(s.colour, rgb(0, 0, 255));
}

TEST(StyleLanguage, NumbersAndPercentages) {
    EXPECT_EQ(style_number("10pt", 0), 10);
    EXPECT_EQ(style_number("-11pt", 0), -11);
    EXPECT_EQ(style_number("65%", 10), 7);  // 6.5 rounds up
    EXPECT_EQ(style_number("65%", -11), -7);
    EXPECT_EQ(style_number("125%", 8), 10);
    EXPECT_EQ(style_number("pt", 5), std::nullopt);
    EXPECT_EQ(style_number("", 5), std::nullopt);
    // Absurd values are bounded rather than overflowing.
    EXPECT_EQ(style_number("99999999999999999999", 0), 100000);
    EXPECT_EQ(style_number("99999%", 99999), 100000);
}

TEST(StyleSheet, DefaultsAndReplacement) {
    style_sheet sheet;
    EXPECT_EQ(sheet.find("a:hover"), "text-decoration:underline; color:blue");
    EXPECT_EQ(sheet.find(".cpp-comment"), "color:green; font-style:italic");
    EXPECT_FALSE(sheet.find("bold"));
    sheet.set("a:link", "color:0xFF0000; text-decoration:underline");
    EXPECT_EQ(sheet.find("a:link"), "color:0xFF0000; text-decoration:underline");
}

TEST(StyleSheet, EffectNames) {
    EXPECT_EQ(effect_number("transparent"), -1);
    EXPECT_EQ(effect_number("solid"), 0);
    EXPECT_EQ(effect_number("3vgradient"), 6);
    EXPECT_EQ(effect_number("metal"), 15);
    EXPECT_EQ(effect_number("12"), 12);
    EXPECT_EQ(effect_number("Metal"), 0);  // case-sensitive; read as a number
    EXPECT_EQ(effect_number(""), std::nullopt);
    EXPECT_EQ(effect_name(6), "3vgradient");
}

TEST(Links, HoverReportsOnlyChanges) {
    std::vector<link_area> areas = {{0, 0, 9, 9, link_target::kind::address, "http://a/", 0},
                                    {20, 0, 29, 9, link_target::kind::message, "", 1}};
    link_hover h;
    EXPECT_EQ(h.hovered(), link_hover::none);
    auto r = h.track(areas, 9, 9);  // bounds are inclusive
    EXPECT_TRUE(r.changed);
    EXPECT_TRUE(r.over_link);
    EXPECT_EQ(r.index, 0);
    EXPECT_FALSE(h.track(areas, 5, 5).changed);
    r = h.track(areas, 25, 5);
    EXPECT_TRUE(r.changed);
    EXPECT_FALSE(r.over_link);  // no target text: no link cursor
    r = h.track(areas, 10, 5);
    EXPECT_TRUE(r.changed);
    EXPECT_EQ(r.index, link_hover::none);
    EXPECT_FALSE(h.track(areas, 15, 5).changed);
}

TEST(Texture, PaletteRunsThroughTheThreeColours) {
    auto p = texture_palette(rgb(255, 0, 0), rgb(255, 255, 255), rgb(0, 0, 255));
    EXPECT_EQ(p[0], rgb(0, 0, 255));
    EXPECT_EQ(p[127], rgb(255, 255, 255));
    EXPECT_EQ(p[128], rgb(255, 255, 255));
    EXPECT_EQ(p[255], rgb(255, 0, 0));
}

TEST(Texture, PatternsStayInsideTheirRows) {
    const int w = 13, h = 7, stride = 16;
    for (int effect = 7; effect <= 15; ++effect) {
        std::vector<std::uint8_t> pixels(stride * h, 0xAB);
        fill_texture(effect, pixels.data(), w, h, stride, 5);
        for (int y = 0; y < h; ++y)
            for (int x = w; x < stride; ++x) ASSERT_EQ(pixels[y * stride + x], 0xAB) << effect;
        std::vector<std::uint8_t> again(stride * h, 0xAB);
        fill_texture(effect, again.data(), w, h, stride, 5);
        EXPECT_EQ(pixels, again) << "effect " << effect << " must draw the same picture each time";
    }
    // The ramps run from the c3 end to the c1 end; granularity 0 adds no noise.
    std::vector<std::uint8_t> ramp(16 * 4);
    fill_texture(10, ramp.data(), 16, 4, 16, 0);
    EXPECT_EQ(ramp[0], 0);
    EXPECT_EQ(ramp[15], 255);
}

}  // namespace
