// Colours as the markup and the controls' owners write them: window-system
// colour values 0x00BBGGRR (blue in the high byte), the colour-name table and
// the two written forms of a colour.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace mirvo {

using colour_ref = std::uint32_t;  // 0x00BBGGRR

constexpr colour_ref rgb(int r, int g, int b) {
    return static_cast<colour_ref>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int red_of(colour_ref c) { return static_cast<int>(c & 0xFF); }
constexpr int green_of(colour_ref c) { return static_cast<int>((c >> 8) & 0xFF); }
constexpr int blue_of(colour_ref c) { return static_cast<int>((c >> 16) & 0xFF); }

// The roles whose colours come from the desktop when a drawer is made, in
// this order.
inline constexpr std::array<std::string_view, 28> system_colour_names = {
    "activeborder",   "activecaption",   "appworkspace",
    "background",     "buttonface",      "buttonhighlight",
    "buttonshadow",   "buttontext",      "captiontext",
    "graytext",       "highlight",       "highlighttext",
    "inactiveborder", "inactivecaption", "inactivecaptiontext",
    "infobackground", "infotext",        "menu",
    "menutext",       "scrollbar",       "threeddarkshadow",
    "threedface",     "threedhighlight", "threedlightshadow",
    "threedshadow",   "window",          "windowframe",
    "windowtext"};
using system_colours = std::array<colour_ref, system_colour_names.size()>;

// The classic desktop's values, for programs without a desktop palette.
system_colours classic_system_colours();

// The 168 colour names: 140 fixed web colours and the 28 desktop roles.
class colour_table {
public:
    explicit colour_table(const system_colours& desktop = classic_system_colours());
    std::optional<colour_ref> find(std::string_view name) const;
    std::size_t size() const { return names_.size(); }

private:
    std::map<std::string, colour_ref, std::less<>> names_;
};

// Reads a colour as the markup writes it: "#rrggbb"; a number (decimal, octal
// after a leading 0, hexadecimal after 0x) taken as 0x00BBGGRR; or a name.
// nullopt when the text names no colour: the caller keeps the colour it had.
std::optional<colour_ref> parse_colour(std::string_view text, const colour_table& names);

// "0x%06X" of the value, the form the controls write into markup and styles.
std::string colour_hex(colour_ref c);

// Step i of n from `from` to `to` (step 0 is `from`, step n-1 is `to`),
// component by component in integer arithmetic.
colour_ref colour_step(colour_ref from, colour_ref to, int i, int n);

// (colour * percent + old * (100 - percent)) / 100 per component, percent
// clamped to 0..100.
colour_ref tint_colour(colour_ref old, colour_ref colour, int percent);

}  // namespace mirvo
