// Laying out markup into lines: the style stack of the tags, line breaking
// within a width limit, link areas and hit testing. Text sizes come through a
// small measuring interface, so the rules run without a display.
#pragma once

#include "client/controls/colour.h"
#include "client/controls/markup.h"
#include "client/controls/style.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mirvo {

struct font_request {
    std::string family;  // UTF-8
    int size = 10;       // points when positive, character height in pixels when negative
    int weight = 400;
    bool italic = false;
    bool underline = false;
    bool strikeout = false;
    bool overline = false;
    bool operator==(const font_request&) const = default;
};

struct font_metrics {
    int ascent = 0;
    int descent = 0;
};

class text_measurer {
public:
    virtual ~text_measurer() = default;
    virtual int advance(const font_request& font, std::string_view utf8) = 0;
    virtual font_metrics metrics(const font_request& font) = 0;
};

struct layout_item {
    enum class kind { text, rule, image };
    kind what = kind::text;
    int x = 0;  // from the start of its line
    int y = 0;  // from the top of its line
    int width = 0;
    int height = 0;
    int ascent = 0;
    std::string text;  // UTF-8
    font_request font;
    colour_ref colour = 0;
    std::optional<colour_ref> background;
    v_align valign = v_align::baseline;
    int link = -1;         // index into html_layout::links
    int rule_percent = 0;  // rules: width in percent of the drawing width; 0 when width is in pixels
    tag_kind image = tag_kind::unknown;
    int image_id = 0;
    int image_index = 0;
};

struct layout_line {
    int y = 0;
    int width = 0;
    int height = 0;
    h_align align = h_align::left;
    std::vector<layout_item> items;
};

struct link_target {
    enum class kind { address = 1, message = 2 };
    kind what = kind::address;
    std::string text;  // GBK, as written in the markup
};

struct html_layout {
    std::vector<layout_line> lines;
    std::vector<link_target> links;
    int width = 0;
    int height = 0;
};

struct layout_options {
    int width_limit = 0;    // 0: lines end only at explicit breaks
    int hovered_link = -1;  // this link takes the a:hover style
    bool enabled = true;    // when false every text takes disabled_colour
    colour_ref disabled_colour = rgb(128, 128, 128);
    // GBK text of string resource id, for the "string" tag; none: empty.
    std::function<std::string(int)> resource_string;
};

html_layout lay_out_html(std::string_view gbk_markup, const style_sheet& sheet, const colour_table& colours,
                         const layout_options& options, text_measurer& measurer);

// The font a text style draws with.
font_request font_of(const text_style& style);

// Where a line starts inside a box of the given width, by its alignment.
int line_offset(const layout_line& line, int box_width);

struct link_area {
    int left = 0, top = 0, right = 0, bottom = 0;  // bounds inclusive
    link_target::kind what = link_target::kind::address;
    std::string text;
    int link = -1;
    bool contains(int x, int y) const { return x >= left && x <= right && y >= top && y <= bottom; }
};

// The link areas of a layout drawn into a box at (x, y) of the given width:
// one rectangle per link and line.
std::vector<link_area> place_link_areas(const html_layout& layout, int x, int y, int box_width);

// Index of the first area containing the point, or -1.
int link_at(const std::vector<link_area>& areas, int x, int y);

// What a person reads in a layout: its text and each link's text, with
// runs of blanks and line ends as one blank. Screen readers get this, never
// the markup or where a link leads.
struct layout_reading {
    struct link {
        std::string text;  // UTF-8
        link_target target;
        // Something to read and somewhere to go: a link a key can open.
        bool usable() const { return !text.empty() && !target.text.empty(); }
    };
    std::string text;  // UTF-8
    std::vector<link> links;
};
layout_reading read_layout(const html_layout& layout);

}  // namespace mirvo
