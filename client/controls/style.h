// The markup's style language: the text style it changes, declaration lists
// ("color:red; font-weight:bold"), the style sheet with its default selectors
// and the names of the fill effects.
#pragma once

#include "client/controls/colour.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace mirvo {

enum class h_align { left, center, right, justify };
enum class v_align { baseline, middle, top, bottom };
enum class text_case { none, upper, lower, capitalize };
enum class border_kind { none, solid, dotted, dashed, double_line };

struct text_style {
    // Points when positive; a character height in pixels when negative (the
    // form a font description of the desktop gives).
    int font_size = 10;
    std::string font_family = "Verdana";  // GBK
    bool italic = false;
    int font_weight = 400;
    bool underline = false;
    bool strikeout = false;
    bool overline = false;
    h_align align = h_align::left;
    text_case transform = text_case::none;
    colour_ref colour = rgb(0, 0, 0);
    std::optional<colour_ref> background;  // none: transparent
    v_align valign = v_align::baseline;
    colour_ref border_colour = rgb(0, 0, 0);
    int border_width = 0;
    border_kind border_style = border_kind::none;
    int margin = 0;
    int padding = 0;
};

// Applies "property: value; ..." to style. Unknown properties, unknown
// keywords and empty colours or numbers leave the style as it was.
void apply_declarations(text_style& style, std::string_view declarations, const colour_table& colours);

// A number of the style language: decimal (a sign allowed, trailing units
// ignored), or "N%" of current. nullopt when the text holds no digits.
std::optional<int> style_number(std::string_view text, int current);

// Reads a font weight: the keywords, or a decimal number (0 when none).
int style_weight(std::string_view text);

// Selector name -> declarations, starting from the default sheet.
class style_sheet {
public:
    style_sheet();
    void set(std::string_view selector, std::string declarations);
    std::optional<std::string_view> find(std::string_view selector) const;

private:
    std::map<std::string, std::string, std::less<>> rules_;
};

// The fill effect a name stands for ("vgradient" -> 2, "transparent" -> -1,
// a number -> itself); nullopt for an empty value.
std::optional<int> effect_number(std::string_view name);
// The name of fill effect n ("solid" for numbers without a name of their own).
std::string_view effect_name(int n);

}  // namespace mirvo
