#include "client/controls/markup.h"

#include "common/text/gbk.h"

#include <array>
#include <utility>

namespace mirvo {

namespace {

// Entities name Windows-1252 characters; they are kept as the characters
// themselves, since a lone 1252 byte inside GBK text would pair with the next
// byte into some other character.
constexpr std::array<std::pair<std::string_view, std::string_view>, 13> entities = {{
    {"amp", "&"},
    {"bull", "\u2022"},
    {"copy", "\u00A9"},
    {"euro", "\u20AC"},
    {"gt", ">"},
    {"iquest", "\u00BF"},
    {"lt", "<"},
    {"nbsp", " "},
    {"para", "\u00B6"},
    {"pound", "\u00A3"},
    {"quot", "\""},
    {"reg", "\u00AE"},
    {"trade", "\u2122"},
}};

constexpr std::size_t longest_entity = 6;

std::string ascii_lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string replace_entities(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        if (utf8[i] == '&') {
            std::size_t semi = utf8.find(';', i + 1);
            if (semi != std::string_view::npos && semi - i - 1 <= longest_entity) {
                if (auto t = entity_text(utf8.substr(i + 1, semi - i - 1))) {
                    out += *t;
                    i = semi + 1;
                    continue;
                }
            }
        }
        out += utf8[i++];
    }
    return out;
}

// Position of the next byte c at or after i that starts a GBK character.
std::size_t find_char(std::string_view s, std::size_t i, char c) {
    while (i < s.size()) {
        if (s[i] == c) return i;
        i += gbk_char_len(s, i);
    }
    return std::string_view::npos;
}

std::size_t skip_spaces(std::string_view s, std::size_t i) {
    while (i < s.size() && is_space(s[i])) ++i;
    return i;
}

// Reads one attribute starting at i (not a space); returns the position after it.
std::size_t read_attribute(std::string_view s, std::size_t i, std::vector<markup_attribute>& out) {
    std::size_t name_start = i;
    while (i < s.size() && s[i] != '=' && !is_space(s[i])) i += gbk_char_len(s, i);
    markup_attribute a;
    a.name = ascii_lower(s.substr(name_start, i - name_start));
    std::size_t j = skip_spaces(s, i);
    if (j < s.size() && s[j] == '=') {
        j = skip_spaces(s, j + 1);
        if (j < s.size() && (s[j] == '"' || s[j] == '\'')) {
            std::size_t close = find_char(s, j + 1, s[j]);
            std::size_t end = close == std::string_view::npos ? s.size() : close;
            a.value = std::string(s.substr(j + 1, end - j - 1));
            i = close == std::string_view::npos ? s.size() : close + 1;
        } else {
            std::size_t start = j;
            while (j < s.size() && !is_space(s[j])) j += gbk_char_len(s, j);
            a.value = std::string(s.substr(start, j - start));
            i = j;
        }
    }
    if (!a.name.empty()) out.push_back(std::move(a));
    return i == name_start ? i + 1 : i;
}

markup_token read_tag(std::string_view body) {
    markup_token t;
    t.what = markup_token::kind::tag;
    std::size_t i = 0;
    if (!body.empty() && body[0] == '/') {
        t.closing = true;
        i = 1;
    }
    std::size_t name_start = i;
    while (i < body.size() && body[i] != ' ' && body[i] != '=') i += gbk_char_len(body, i);
    t.name = ascii_lower(body.substr(name_start, i - name_start));
    while ((i = skip_spaces(body, i)) < body.size()) i = read_attribute(body, i, t.attributes);
    return t;
}

}  // namespace

std::optional<std::string_view> markup_token::attribute(std::string_view attribute_name) const {
    for (const auto& a : attributes)
        if (a.name == attribute_name) return std::string_view(a.value);
    return std::nullopt;
}

std::optional<std::string_view> entity_text(std::string_view name) {
    for (const auto& [n, t] : entities)
        if (n == name) return t;
    return std::nullopt;
}

std::vector<markup_token> tokenize_markup(std::string_view gbk) {
    std::vector<markup_token> out;
    std::string pending;  // GBK text of the current run
    auto flush = [&] {
        if (pending.empty()) return;
        markup_token t;
        t.text = replace_entities(gbk_to_utf8(pending));
        out.push_back(std::move(t));
        pending.clear();
    };
    std::size_t i = 0;
    while (i < gbk.size()) {
        if (gbk[i] != '<') {
            std::size_t n = gbk_char_len(gbk, i);
            pending.append(gbk.substr(i, n));
            i += n;
            continue;
        }
        if (i + 1 == gbk.size() || gbk[i + 1] == '<') {
            pending += '<';
            i += 2;
            continue;
        }
        std::size_t close = find_char(gbk, i + 1, '>');
        if (close == std::string_view::npos) {
            pending += '<';
            ++i;
            continue;
        }
        flush();
        out.push_back(read_tag(gbk.substr(i + 1, close - i - 1)));
        i = close + 1;
    }
    flush();
    return out;
}

tag_info lookup_tag(std::string_view name) {
    struct entry {
        std::string_view name;
        tag_kind kind;
        std::string_view style;
    };
    static constexpr entry tags[] = {
        {"b", tag_kind::bold, "bold"},
        {"i", tag_kind::italic, "italic"},
        {"em", tag_kind::italic, "italic"},
        {"u", tag_kind::underline, "underline"},
        {"s", tag_kind::strikeout, "strikeout"},
        {"strike", tag_kind::strikeout, "strikeout"},
        {"font", tag_kind::font, "font"},
        {"hr", tag_kind::rule, "hr"},
        {"br", tag_kind::line_break, ""},
        {"\n", tag_kind::line_break, ""},
        {"t", tag_kind::tab, ""},
        {"\t", tag_kind::tab, ""},
        {"left", tag_kind::align_left, "left"},
        {"center", tag_kind::align_center, "center"},
        {"right", tag_kind::align_right, "right"},
        {"justify", tag_kind::align_justify, "justify"},
        {"baseline", tag_kind::valign_baseline, "baseline"},
        {"top", tag_kind::valign_top, "top"},
        {"vcenter", tag_kind::valign_middle, "vcenter"},
        {"middle", tag_kind::valign_middle, "middle"},
        {"bottom", tag_kind::valign_bottom, "bottom"},
        {"bmp", tag_kind::bitmap, ""},
        {"icon", tag_kind::icon, ""},
        {"ilst", tag_kind::image_list, ""},
        {"string", tag_kind::resource_string, ""},
        {"body", tag_kind::selector, "body"},
        {"h1", tag_kind::selector, "h1"},
        {"h2", tag_kind::selector, "h2"},
        {"h3", tag_kind::selector, "h3"},
        {"h4", tag_kind::selector, "h4"},
        {"h5", tag_kind::selector, "h5"},
        {"h6", tag_kind::selector, "h6"},
        {"code", tag_kind::selector, "code"},
        {"pre", tag_kind::selector, "pre"},
        {"big", tag_kind::selector, "big"},
        {"small", tag_kind::selector, "small"},
        {"sub", tag_kind::selector, "sub"},
        {"sup", tag_kind::selector, "sup"},
        {"span", tag_kind::span, "span"},
        {"a", tag_kind::anchor, "a:link"},
    };
    for (const auto& t : tags)
        if (t.name == name) return {t.kind, t.style};
    return {};
}

}  // namespace mirvo
