// Feeds arbitrary markup and declarations to the tokenizer, the style
// language and the layout, with a measurer of fixed character sizes.
#include "client/controls/layout.h"
#include "client/controls/links.h"
#include "gui/web_address.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

class fixed_measurer final : public mirvo::text_measurer {
public:
    int advance(const mirvo::font_request& font, std::string_view utf8) override {
        int chars = 0;
        for (unsigned char c : utf8) chars += (c & 0xC0) != 0x80;
        return chars * (font.size < 0 ? -font.size : font.size);
    }
    mirvo::font_metrics metrics(const mirvo::font_request& font) override {
        int s = font.size < 0 ? -font.size : font.size;
        return {s, s / 4};
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string in(reinterpret_cast<const char*>(data), size);
    // The first byte chooses the width limit, text before a 0x01 byte is a
    // style declaration for the body, the rest is the markup.
    int limit = size ? static_cast<unsigned char>(in[0]) % 64 : 0;
    std::string rest = size ? in.substr(1) : in;
    std::size_t cut = rest.find('\x01');
    std::string decls = cut == std::string::npos ? "" : rest.substr(0, cut);
    std::string markup = cut == std::string::npos ? rest : rest.substr(cut + 1);

    mirvo::colour_table colours;
    mirvo::style_sheet sheet;
    sheet.set("body", decls);
    sheet.set("a:link", decls);
    mirvo::text_style style;
    mirvo::apply_declarations(style, decls, colours);
    mirvo::parse_colour(decls, colours);
    mirvo::effect_number(decls);

    fixed_measurer measurer;
    mirvo::layout_options options;
    options.width_limit = limit;
    options.hovered_link = 0;
    options.resource_string = [](int) { return std::string("x y"); };
    mirvo::html_layout layout = mirvo::lay_out_html(markup, sheet, colours, options, measurer);
    auto areas = mirvo::place_link_areas(layout, 0, 0, limit);
    mirvo::link_hover hover;
    for (const auto& a : areas) {
        hover.track(areas, a.left, a.top);
        mirvo::is_web_address(a.text);
        mirvo::browser_commands(decls, a.text);
    }
    // What is read of it holds no more links than were laid out, and never
    // a blank at either end.
    const mirvo::layout_reading reading = mirvo::read_layout(layout);
    if (reading.links.size() != layout.links.size()) __builtin_trap();
    if (!reading.text.empty() && (reading.text.front() == ' ' || reading.text.back() == ' ')) __builtin_trap();
    // Every line takes at least one character, so a text of n characters
    // never makes more than n + (number of tags) lines.
    if (layout.lines.size() > markup.size() + 1) __builtin_trap();
    return 0;
}
