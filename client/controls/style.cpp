#include "client/controls/style.h"

#include "common/text/gbk.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

namespace mirvo {

namespace {

std::string_view trim(std::string_view s) {
    auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && space(s.front())) s.remove_prefix(1);
    while (!s.empty() && space(s.back())) s.remove_suffix(1);
    return s;
}

std::string_view unquote(std::string_view s) {
    if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front())
        return s.substr(1, s.size() - 2);
    return s;
}

// Sizes and widths beyond these are nonsense from the network and would only
// overflow later arithmetic.
constexpr std::int64_t number_limit = 100000;

std::int64_t clamp_number(std::int64_t v) { return std::clamp(v, -number_limit, number_limit); }

// Looks value up among keywords; an empty value means the first one.
template <class T, std::size_t N>
void set_keyword(T& field, std::string_view value, const std::array<std::pair<std::string_view, T>, N>& words) {
    if (value.empty()) {
        field = words[0].second;
        return;
    }
    for (const auto& [word, v] : words)
        if (word == value) {
            field = v;
            return;
        }
}

void set_number(int& field, std::string_view value) {
    if (auto n = style_number(value, field)) field = *n;
}

void set_colour(colour_ref& field, std::string_view value, const colour_table& colours) {
    if (auto c = parse_colour(value, colours)) field = *c;
}

void set_decoration(text_style& s, std::string_view value) {
    if (value == "none") {
        s.underline = s.strikeout = s.overline = false;
    } else if (value == "underline") {
        s.underline = true;
        s.strikeout = s.overline = false;
    } else if (value == "line-through") {
        s.strikeout = true;
        s.underline = s.overline = false;
    } else if (value == "overline") {
        s.overline = true;
        s.underline = s.strikeout = false;
    }
}

void set_border_width(int& field, std::string_view value) {
    if (value == "thin")
        field = 1;
    else if (value == "medium")
        field = 2;
    else if (value == "thick")
        field = 4;
    else
        set_number(field, value);
}

void apply_one(text_style& s, std::string_view name, std::string_view value, const colour_table& colours) {
    static constexpr std::array<std::pair<std::string_view, bool>, 3> styles = {
        {{"normal", false}, {"italic", true}, {"oblique", true}}};
    static constexpr std::array<std::pair<std::string_view, h_align>, 3> aligns = {
        {{"left", h_align::left}, {"center", h_align::center}, {"right", h_align::right}}};
    static constexpr std::array<std::pair<std::string_view, text_case>, 4> cases = {
        {{"none", text_case::none},
         {"uppercase", text_case::upper},
         {"lowercase", text_case::lower},
         {"capitalize", text_case::capitalize}}};
    static constexpr std::array<std::pair<std::string_view, v_align>, 5> valigns = {{{"baseline", v_align::baseline},
                                                                                     {"middle", v_align::middle},
                                                                                     {"vcenter", v_align::middle},
                                                                                     {"top", v_align::top},
                                                                                     {"bottom", v_align::bottom}}};
    static constexpr std::array<std::pair<std::string_view, border_kind>, 5> borders = {
        {{"none", border_kind::none},
         {"solid", border_kind::solid},
         {"dotted", border_kind::dotted},
         {"dashed", border_kind::dashed},
         {"double", border_kind::double_line}}};

    if (name == "font-size")
        set_number(s.font_size, value);
    else if (name == "font-family") {
        if (!value.empty()) s.font_family = std::string(unquote(value));
    } else if (name == "font-style")
        set_keyword(s.italic, value, styles);
    else if (name == "font-weight")
        s.font_weight = style_weight(value);
    else if (name == "text-align")
        set_keyword(s.align, value, aligns);
    else if (name == "text-transform")
        set_keyword(s.transform, value, cases);
    else if (name == "color")
        set_colour(s.colour, value, colours);
    else if (name == "background-color") {
        if (value == "transparent")
            s.background.reset();
        else if (auto c = parse_colour(value, colours))
            s.background = *c;
    } else if (name == "text-decoration")
        set_decoration(s, value);
    else if (name == "vertical-align")
        set_keyword(s.valign, value, valigns);
    else if (name == "border-color")
        set_colour(s.border_colour, value, colours);
    else if (name == "border-width" || name == "size")
        set_border_width(s.border_width, value);
    else if (name == "border-style") {
        if (!value.empty()) set_keyword(s.border_style, value, borders);
    } else if (name == "margin")
        set_number(s.margin, value);
    else if (name == "padding")
        set_number(s.padding, value);
}

}  // namespace

std::optional<int> style_number(std::string_view text, int current) {
    text = trim(text);
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    std::int64_t v = 0;
    std::size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits)
        v = clamp_number(v * 10 + (text[i] - '0'));
    if (digits == 0) return std::nullopt;
    if (negative) v = -v;
    if (i < text.size() && text[i] == '%') {
        std::int64_t scaled = static_cast<std::int64_t>(current) * v;
        std::int64_t half = scaled < 0 ? -50 : 50;
        return static_cast<int>(clamp_number((scaled + half) / 100));
    }
    return static_cast<int>(v);
}

int style_weight(std::string_view text) {
    if (text.empty() || text == "normal") return 400;
    if (text == "bold") return 700;
    if (text == "bolder") return 900;
    if (text == "lighter") return 100;
    return std::clamp(style_number(text, 0).value_or(0), 0, 1000);
}

void apply_declarations(text_style& style, std::string_view declarations, const colour_table& colours) {
    for (const std::string& item : gbk_split(declarations, ";")) {
        std::string_view it = item;
        std::size_t colon = gbk_find(it, ":");
        if (colon == std::string_view::npos) continue;
        apply_one(style, trim(it.substr(0, colon)), trim(it.substr(colon + 1)), colours);
    }
}

style_sheet::style_sheet() {
    static constexpr std::pair<std::string_view, std::string_view> defaults[] = {
        {"body", "font-size: 10pt; color:black; font-family:Verdana"},
        {"p", "font-size: 10pt; color:black; font-family:Verdana; font-weight:bold"},
        {"h1", "font-size: 14pt; color:black; font-family:Verdana; font-weight:bold"},
        {"h2", "font-size: 13pt; color:#ff9900; font-family:Verdana; font-weight:bold"},
        {"h3", "font-size: 12pt; color:#ff9900; font-family:Arial; font-weight:bold"},
        {"h4", "font-size: 10pt; color:black; font-family:Verdana; font-weight:bold"},
        {"h5", "font-size: 9pt; color:#ff9900; font-family:Verdana; font-weight:bold"},
        {"h6", "font-size: 65%; color:#626262; font-family:Verdana; font-weight:normal"},
        {"pre", "font-size: 9pt; font-family:\"Courier\"; background-color:#fbedbb"},
        {"code", "color:#990000; font-family:Arial"},
        {"a:link", "text-decoration:none; color:blue"},
        {"a:hover", "text-decoration:underline; color:blue"},
        {"sub", "font-size:65%; vertical-align:bottom"},
        {"sup", "font-size:65%; vertical-align:top"},
        {"big", "font-size:125%"},
        {"small", "font-size:75%"},
        {".cpp-comment", "color:green; font-style:italic"},
    };
    for (const auto& [selector, decls] : defaults) rules_.emplace(selector, decls);
}

void style_sheet::set(std::string_view selector, std::string declarations) {
    rules_.insert_or_assign(std::string(selector), std::move(declarations));
}

std::optional<std::string_view> style_sheet::find(std::string_view selector) const {
    auto it = rules_.find(selector);
    if (it == rules_.end()) return std::nullopt;
    return std::string_view(it->second);
}

namespace {
constexpr std::array<std::string_view, 16> effect_names = {
    "solid",     "hgradient", "vgradient", "hcgradient", "vcgradient", "3hgradient", "3vgradient", "noise",
    "diagshade", "hshade",    "vshade",    "hbump",      "vbump",      "softbump",   "hardbump",   "metal"};
}

std::optional<int> effect_number(std::string_view name) {
    if (name.empty()) return std::nullopt;
    if (name == "transparent") return -1;
    for (std::size_t i = 0; i < effect_names.size(); ++i)
        if (effect_names[i] == name) return static_cast<int>(i);
    return style_number(name, 0).value_or(0);
}

std::string_view effect_name(int n) {
    if (n == -1) return "transparent";
    if (n < 0 || n >= static_cast<int>(effect_names.size())) return effect_names[0];
    return effect_names[static_cast<std::size_t>(n)];
}

}  // namespace mirvo
