#include "client/controls/layout.h"

#include "common/text/gbk.h"

#include <algorithm>

namespace mirvo {

namespace {

constexpr std::string_view break_chars = " -.,!:;)}]?";
// Markup from the service could nest without end; deeper tags are ignored.
constexpr std::size_t max_nesting = 256;
constexpr int default_rule_size = 2;
constexpr int tab_columns = 8;
constexpr int max_font_size = 400;

std::size_t utf8_len(std::string_view s, std::size_t i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 1;
    return i + n > s.size() ? 1 : n;
}

std::string transformed(std::string_view text, text_case how, bool& at_word_start) {
    std::string out(text);
    for (char& c : out) {
        bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        bool upper = how == text_case::upper || (how == text_case::capitalize && at_word_start);
        if (how != text_case::none && letter) {
            if (upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            if (how == text_case::lower && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
        at_word_start = c == ' ';
    }
    return out;
}

bool same_look(const layout_item& a, const layout_item& b) {
    return a.what == layout_item::kind::text && b.what == layout_item::kind::text && a.font == b.font &&
           a.colour == b.colour && a.background == b.background && a.valign == b.valign && a.link == b.link;
}

struct state {
    text_style style;
    int link = -1;
};

struct frame {
    std::string name;
    state saved;
};

// Builds the lines: words are collected piece by piece (a word may change
// style in its middle) and placed whole when a break character ends them.
class line_builder {
public:
    line_builder(const layout_options& options, text_measurer& measurer, html_layout& out)
        : options_(options), measurer_(measurer), out_(out) {}

    void add_text(const layout_item& look, std::string_view utf8) {
        for (std::size_t i = 0; i < utf8.size();) {
            std::size_t n = utf8_len(utf8, i);
            std::string_view ch = utf8.substr(i, n);
            i += n;
            if (ch == "\r") continue;
            if (ch.size() == 1 && static_cast<unsigned char>(ch[0]) < 0x20) ch = " ";
            if (!word_.empty() && same_look(word_.back(), look)) {
                word_.back().text += ch;
            } else {
                if (word_.empty()) word_align_ = align_;
                word_.push_back(look);
                word_.back().text = std::string(ch);
            }
            if (ch.size() == 1 && break_chars.find(ch[0]) != std::string_view::npos) commit_word();
        }
    }

    // An unbreakable box (a picture): placed like a word of its own.
    void add_box(const layout_item& box) {
        commit_word();
        word_align_ = align_;
        word_.push_back(box);
        commit_word();
    }

    void add_rule(const layout_item& rule, h_align align) {
        commit_word();
        if (!line_empty()) finish_line(align);
        place(rule, align);
        finish_line(align);
    }

    void tab(const font_request& font, h_align align) {
        commit_word();
        int step = std::max(1, measurer_.advance(font, " ") * tab_columns);
        int next = (x_ / step + 1) * step;
        if (options_.width_limit > 0 && next > options_.width_limit && !line_empty()) {
            finish_line(align);
            next = step;
        }
        x_ = next;
    }

    void line_break(const font_request& font, h_align align) {
        commit_word();
        if (line_.items.empty()) {
            font_metrics m = measurer_.metrics(font);
            line_.height = m.ascent + m.descent;
        }
        finish_line(align);
    }

    void finish(h_align align) {
        commit_word();
        if (!line_empty()) finish_line(align);
    }

    void commit_word() {
        while (!word_.empty()) {
            int width = 0;
            for (auto& p : word_) {
                if (p.what == layout_item::kind::text) p.width = measurer_.advance(p.font, p.text);
                width += p.width;
            }
            if (fits(width)) {
                for (auto& p : word_) place(p, word_align_);
                word_.clear();
            } else if (!line_empty()) {
                finish_line(word_align_);
            } else {
                cut_word();
            }
        }
    }

    void set_align(h_align a) { align_ = a; }

private:
    bool fits(int width) const { return options_.width_limit <= 0 || x_ + width <= options_.width_limit; }
    bool line_empty() const { return line_.items.empty() && x_ == 0; }

    // Longest prefix of text (in bytes, on a character boundary) whose
    // advance is at most room.
    std::size_t fitting_prefix(const layout_item& p, int room) {
        std::vector<std::size_t> ends;
        for (std::size_t i = 0; i < p.text.size();) ends.push_back(i += utf8_len(p.text, i));
        std::size_t lo = 0, hi = ends.size();  // the answer is ends[k-1] for k in [lo, hi]
        while (lo < hi) {
            std::size_t mid = (lo + hi + 1) / 2;
            if (measurer_.advance(p.font, std::string_view(p.text).substr(0, ends[mid - 1])) <= room)
                lo = mid;
            else
                hi = mid - 1;
        }
        return lo == 0 ? 0 : ends[lo - 1];
    }

    // The line is empty and the word does not fit: cut it before the first
    // character that does not fit, but take at least one character so that a
    // limit narrower than any character still makes progress.
    void cut_word() {
        std::size_t k = 0;
        for (; k < word_.size(); ++k) {
            layout_item& p = word_[k];
            if (fits(p.width)) {
                place(p, word_align_);
                continue;
            }
            std::size_t cut = p.what == layout_item::kind::text ? fitting_prefix(p, options_.width_limit - x_) : 0;
            if (cut == 0 && line_.items.empty()) cut = p.what == layout_item::kind::text ? utf8_len(p.text, 0) : 0;
            if (p.what != layout_item::kind::text && line_.items.empty()) {
                place(p, word_align_);  // a picture wider than the limit stands alone
                ++k;
            } else if (cut > 0) {
                layout_item head = p;
                head.text = p.text.substr(0, cut);
                head.width = measurer_.advance(head.font, head.text);
                place(head, word_align_);
                p.text.erase(0, cut);
                if (p.text.empty()) ++k;
            }
            break;
        }
        word_.erase(word_.begin(), word_.begin() + static_cast<std::ptrdiff_t>(k));
        finish_line(word_align_);
    }

    void place(layout_item item, h_align align) {
        if (line_.items.empty()) line_.align = align;
        item.x = x_;
        x_ += item.width;
        if (!line_.items.empty() && same_look(line_.items.back(), item) &&
            line_.items.back().x + line_.items.back().width == item.x) {
            line_.items.back().text += item.text;
            line_.items.back().width += item.width;
        } else {
            line_.items.push_back(std::move(item));
        }
    }

    void finish_line(h_align align) {
        if (line_.items.empty()) line_.align = align;
        int ascent = 0, descent = 0, others = 0;
        for (const auto& it : line_.items) {
            if (it.valign == v_align::baseline) {
                ascent = std::max(ascent, it.ascent);
                descent = std::max(descent, it.height - it.ascent);
            } else {
                others = std::max(others, it.height);
            }
        }
        int height = std::max({ascent + descent, others, line_.height});
        for (auto& it : line_.items) {
            switch (it.valign) {
                case v_align::baseline:
                    it.y = ascent - it.ascent;
                    break;
                case v_align::top:
                    it.y = 0;
                    break;
                case v_align::bottom:
                    it.y = height - it.height;
                    break;
                case v_align::middle:
                    it.y = (height - it.height) / 2;
                    break;
            }
        }
        line_.height = height;
        line_.width = x_;
        for (const auto& it : line_.items) line_.width = std::max(line_.width, it.x + it.width);
        line_.y = out_.height;
        out_.height += height;
        out_.width = std::max(out_.width, line_.width);
        out_.lines.push_back(std::move(line_));
        line_ = layout_line{};
        x_ = 0;
    }

    const layout_options& options_;
    text_measurer& measurer_;
    html_layout& out_;
    layout_line line_;
    std::vector<layout_item> word_;
    int x_ = 0;
    h_align align_ = h_align::left;       // of the text being added
    h_align word_align_ = h_align::left;  // of the word being collected
};

// Walks the tokens, keeping the style stack of the open tags.
class markup_walker {
public:
    markup_walker(const style_sheet& sheet, const colour_table& colours, const layout_options& options,
                  text_measurer& measurer, html_layout& out)
        : sheet_(sheet),
          colours_(colours),
          options_(options),
          measurer_(measurer),
          out_(out),
          lines_(options, measurer, out) {
        apply_selector("body");
    }

    void walk(const std::vector<markup_token>& tokens) {
        for (const auto& t : tokens) {
            if (t.what == markup_token::kind::text)
                add_text(t.text);
            else if (t.closing)
                close(t.name);
            else
                open(t);
        }
        lines_.finish(now_.style.align);
    }

private:
    void apply_selector(std::string_view selector) {
        if (auto decls = sheet_.find(selector)) apply_declarations(now_.style, *decls, colours_);
    }

    layout_item look() {
        layout_item it;
        it.font = font_of(now_.style);
        it.colour = options_.enabled ? now_.style.colour : options_.disabled_colour;
        it.background = now_.style.background;
        it.valign = now_.style.valign;
        it.link = now_.link;
        font_metrics m = measurer_.metrics(it.font);
        it.ascent = m.ascent;
        it.height = m.ascent + m.descent;
        return it;
    }

    void add_text(std::string_view utf8) {
        lines_.set_align(now_.style.align);
        if (now_.style.transform == text_case::none) {
            lines_.add_text(look(), utf8);
        } else {
            lines_.add_text(look(), transformed(utf8, now_.style.transform, at_word_start_));
        }
    }

    bool push(const std::string& name) {
        if (stack_.size() >= max_nesting) return false;
        stack_.push_back({name, now_});
        return true;
    }

    void close(const std::string& name) {
        for (std::size_t i = stack_.size(); i-- > 0;) {
            if (stack_[i].name != name) continue;
            now_ = stack_[i].saved;
            stack_.resize(i);
            return;
        }
    }

    void open(const markup_token& t) {
        tag_info info = lookup_tag(t.name);
        switch (info.kind) {
            case tag_kind::unknown:
                return;
            case tag_kind::line_break:
                return lines_.line_break(font_of(now_.style), now_.style.align);
            case tag_kind::tab:
                return lines_.tab(font_of(now_.style), now_.style.align);
            case tag_kind::rule:
                return add_rule(t);
            case tag_kind::bitmap:
            case tag_kind::icon:
            case tag_kind::image_list:
                return add_image(t, info.kind);
            case tag_kind::resource_string:
                return add_resource_string(t);
            default:
                break;
        }
        if (!push(t.name)) return;
        text_style& s = now_.style;
        switch (info.kind) {
            case tag_kind::bold:
                s.font_weight = std::min(s.font_weight * 2, 900);
                break;
            case tag_kind::italic:
                s.italic = !s.italic;
                break;
            case tag_kind::underline:
                s.underline = !s.underline;
                break;
            case tag_kind::strikeout:
                s.strikeout = !s.strikeout;
                break;
            case tag_kind::font:
                apply_font_attributes(t);
                break;
            case tag_kind::align_left:
                s.align = h_align::left;
                break;
            case tag_kind::align_center:
                s.align = h_align::center;
                break;
            case tag_kind::align_right:
                s.align = h_align::right;
                break;
            case tag_kind::align_justify:
                s.align = h_align::justify;
                break;
            case tag_kind::valign_baseline:
                s.valign = v_align::baseline;
                break;
            case tag_kind::valign_top:
                s.valign = v_align::top;
                break;
            case tag_kind::valign_middle:
                s.valign = v_align::middle;
                break;
            case tag_kind::valign_bottom:
                s.valign = v_align::bottom;
                break;
            case tag_kind::span:
                apply_span(t);
                return;
            case tag_kind::anchor:
                open_link(t);
                return;
            default:
                break;
        }
        apply_selector(info.style);
    }

    void apply_font_attributes(const markup_token& t) {
        text_style& s = now_.style;
        for (const auto& a : t.attributes) {
            if (a.name == "face") {
                if (!a.value.empty()) s.font_family = a.value;
            } else if (a.name == "size") {
                if (auto n = style_number(a.value, s.font_size)) s.font_size = *n;
            } else if (a.name == "color") {
                if (options_.enabled)
                    if (auto c = parse_colour(a.value, colours_)) s.colour = *c;
            } else if (a.name == "style") {
                if (a.value.empty() || a.value == "normal")
                    s.italic = false;
                else if (a.value == "italic" || a.value == "oblique")
                    s.italic = true;
            } else if (a.name == "weight") {
                s.font_weight = style_weight(a.value);
            } else if (a.name == "bkgnd") {
                if (a.value == "transparent")
                    s.background.reset();
                else if (auto c = parse_colour(a.value, colours_))
                    s.background = *c;
            }
        }
    }

    void apply_span(const markup_token& t) {
        apply_selector("span");
        for (const auto& a : t.attributes)
            if (a.name == "class") apply_selector("." + a.value);
    }

    void open_link(const markup_token& t) {
        link_target target;
        if (auto href = t.attribute("href")) {
            target = {link_target::kind::address, std::string(*href)};
        } else if (auto msg = t.attribute("msg")) {
            target = {link_target::kind::message, std::string(*msg)};
        } else {
            return;  // an anchor without a target is plain text
        }
        now_.link = static_cast<int>(out_.links.size());
        out_.links.push_back(std::move(target));
        apply_selector(now_.link == options_.hovered_link ? "a:hover" : "a:link");
    }

    void add_rule(const markup_token& t) {
        text_style s = now_.style;
        if (auto decls = sheet_.find("hr")) apply_declarations(s, *decls, colours_);
        layout_item rule;
        rule.what = layout_item::kind::rule;
        rule.colour = options_.enabled ? s.colour : options_.disabled_colour;
        rule.height = s.border_width > 0 ? s.border_width : default_rule_size;
        rule.rule_percent = 100;
        rule.valign = v_align::top;
        if (auto size = t.attribute("size"))
            rule.height = std::clamp(style_number(*size, rule.height).value_or(rule.height), 1, 1000);
        if (auto colour = t.attribute("color"); colour && options_.enabled)
            rule.colour = parse_colour(*colour, colours_).value_or(rule.colour);
        if (auto width = t.attribute("width"); width && !width->empty()) {
            if (width->back() == '%') {
                std::string_view number = width->substr(0, width->size() - 1);
                rule.rule_percent = std::clamp(style_number(number, 0).value_or(100), 0, 100);
            } else if (auto px = style_number(*width, 0)) {
                rule.rule_percent = 0;
                rule.width = std::max(0, *px);
            }
        }
        rule.ascent = rule.height;
        lines_.add_rule(rule, now_.style.align);
    }

    // Pictures take the box their attributes give; attributes that would
    // load a module, a handle or a file are never looked at.
    void add_image(const markup_token& t, tag_kind kind) {
        layout_item box;
        box.what = layout_item::kind::image;
        box.image = kind;
        auto number = [&](const char* name, int fallback) {
            auto v = t.attribute(name);
            return v ? std::clamp(style_number(*v, 0).value_or(fallback), 0, 4096) : fallback;
        };
        int fallback = kind == tag_kind::icon ? 16 : 0;
        box.width = number("width", fallback);
        box.height = number("height", fallback);
        box.image_id = number("idres", 0);
        box.image_index = number("index", 0);
        box.ascent = box.height;
        box.link = now_.link;
        if (box.width > 0 && box.height > 0) lines_.add_box(box);
    }

    void add_resource_string(const markup_token& t) {
        auto id = t.attribute("idres");
        if (!id || !options_.resource_string) return;
        if (auto n = style_number(*id, 0)) add_text(gbk_to_utf8(options_.resource_string(*n)));
    }

    const style_sheet& sheet_;
    const colour_table& colours_;
    const layout_options& options_;
    text_measurer& measurer_;
    html_layout& out_;
    line_builder lines_;
    state now_;
    std::vector<frame> stack_;
    bool at_word_start_ = true;
};

}  // namespace

font_request font_of(const text_style& style) {
    font_request f;
    f.family = gbk_to_utf8(style.font_family);
    f.size = style.font_size == 0 ? 1 : std::clamp(style.font_size, -max_font_size, max_font_size);
    f.weight = std::clamp(style.font_weight, 1, 1000);
    f.italic = style.italic;
    f.underline = style.underline;
    f.strikeout = style.strikeout;
    f.overline = style.overline;
    return f;
}

html_layout lay_out_html(std::string_view gbk_markup, const style_sheet& sheet, const colour_table& colours,
                         const layout_options& options, text_measurer& measurer) {
    html_layout out;
    markup_walker walker(sheet, colours, options, measurer, out);
    walker.walk(tokenize_markup(gbk_markup));
    return out;
}

int line_offset(const layout_line& line, int box_width) {
    switch (line.align) {
        case h_align::center:
            return std::max(0, (box_width - line.width) / 2);
        case h_align::right:
            return std::max(0, box_width - line.width);
        default:
            return 0;
    }
}

std::vector<link_area> place_link_areas(const html_layout& layout, int x, int y, int box_width) {
    std::vector<link_area> areas;
    for (const auto& line : layout.lines) {
        int lx = x + line_offset(line, box_width);
        int previous = -1;
        for (const auto& it : line.items) {
            if (it.link < 0 || it.width <= 0 || it.height <= 0) {
                previous = -1;
                continue;
            }
            link_area a{lx + it.x,
                        y + line.y + it.y,
                        lx + it.x + it.width - 1,
                        y + line.y + it.y + it.height - 1,
                        layout.links[static_cast<std::size_t>(it.link)].what,
                        layout.links[static_cast<std::size_t>(it.link)].text,
                        it.link};
            if (previous == it.link) {
                link_area& last = areas.back();
                last.left = std::min(last.left, a.left);
                last.top = std::min(last.top, a.top);
                last.right = std::max(last.right, a.right);
                last.bottom = std::max(last.bottom, a.bottom);
            } else {
                areas.push_back(std::move(a));
            }
            previous = it.link;
        }
    }
    return areas;
}

int link_at(const std::vector<link_area>& areas, int x, int y) {
    for (std::size_t i = 0; i < areas.size(); ++i)
        if (areas[i].contains(x, y)) return static_cast<int>(i);
    return -1;
}

namespace {

// Appends text, turning every run of blanks and control characters into one
// blank and leaving none at the start.
void append_read(std::string& out, std::string_view text) {
    for (char c : text) {
        const bool blank = static_cast<unsigned char>(c) <= 0x20;
        if (!blank) {
            out += c;
        } else if (!out.empty() && out.back() != ' ') {
            out += ' ';
        }
    }
}

void trim_end(std::string& s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
}

}  // namespace

layout_reading read_layout(const html_layout& layout) {
    layout_reading r;
    r.links.resize(layout.links.size());
    for (std::size_t i = 0; i < layout.links.size(); ++i) r.links[i].target = layout.links[i];
    for (const auto& line : layout.lines) {
        for (const auto& it : line.items) {
            if (it.what != layout_item::kind::text) continue;
            append_read(r.text, it.text);
            if (it.link >= 0 && static_cast<std::size_t>(it.link) < r.links.size())
                append_read(r.links[static_cast<std::size_t>(it.link)].text, it.text);
        }
        // A line end reads as a blank: the next line's words stay apart.
        append_read(r.text, " ");
        for (auto& link : r.links) append_read(link.text, " ");
    }
    trim_end(r.text);
    for (auto& link : r.links) trim_end(link.text);
    return r;
}

}  // namespace mirvo
