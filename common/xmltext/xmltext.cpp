#include "common/xmltext/xmltext.h"

#include "common/fs/paths.h"
#include "common/text/gbk.h"
#include "common/ui/status.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <unordered_map>
#include <vector>

namespace mirvo {

namespace {

constexpr std::size_t npos = std::string::npos;

// The document as the query sees it: up to its first zero byte, comments removed.
std::string strip_comments(const std::string& text) {
    std::string copy = text.substr(0, text.find('\0'));
    std::size_t from = 0;  // always a character boundary
    for (;;) {
        std::size_t open = gbk_find(copy, "<!--", from);
        if (open == npos) break;
        // Searching from the "<!--" itself makes "<!-->" a whole comment.
        std::size_t close = gbk_find(copy, "-->", open);
        if (close == npos) {
            copy.erase(open);
            break;
        }
        copy.erase(open, close + 3 - open);
        // Joining the two sides can form a new "<!--" that starts at most
        // three bytes before the join; nothing earlier has changed. Step to
        // the last character boundary at or before that point.
        std::size_t limit = open >= 3 ? open - 3 : 0;
        while (from < limit && from + gbk_char_len(copy, from) <= limit) from += gbk_char_len(copy, from);
    }
    return copy;
}

// A search whose start only moves forward within one query: the first match
// at or after a later start is the same one while it still lies ahead, so it
// is found once instead of once per element.
class forward_search {
public:
    forward_search(const std::string& doc, std::string needle) : doc_(doc), needle_(std::move(needle)) {}
    std::size_t at_or_after(std::size_t from) {
        if (!valid_ || from < from_ || (found_ != npos && found_ < from)) {
            found_ = gbk_find(doc_, needle_, from);
            from_ = from;
            valid_ = true;
        }
        return found_;
    }

private:
    const std::string& doc_;
    std::string needle_;
    bool valid_ = false;
    std::size_t from_ = 0, found_ = npos;
};

// Text strictly between two positions; empty when they are missing or reversed.
std::string between(const std::string& s, std::size_t after, std::size_t before) {
    if (after == npos || before == npos || after + 1 > before) return {};
    return s.substr(after + 1, before - after - 1);
}

// Value of the first double-quoted text after name's first occurrence in tag_text.
std::string quoted_after(const std::string& tag_text, const std::string& name, bool& found) {
    std::size_t at = gbk_find(tag_text, name);
    found = at != npos;
    if (!found) return {};
    std::size_t q1 = gbk_find(tag_text, "\"", at + name.size());
    if (q1 == npos) return {};
    std::size_t q2 = gbk_find(tag_text, "\"", q1 + 1);
    return between(tag_text, q1, q2);
}

// The document a query works on: the text itself when it holds neither a
// comment nor a zero byte (no copy needed), else the cleaned copy.
class query_doc {
public:
    explicit query_doc(const std::string& text) {
        if (text.find('\0') == npos && text.find("<!--") == npos) {
            doc_ = &text;
        } else {
            copy_ = strip_comments(text);
            doc_ = &copy_;
        }
    }
    const std::string& text() const { return *doc_; }

private:
    std::string copy_;
    const std::string* doc_;
};

// One element as the selecting query sees it.
struct element {
    std::string start_text;  // from "<" up to ">" or "/>" (not included)
    std::size_t content_from = npos, content_to = npos;
};

// Walks the elements of a selecting query in document order: each call gives
// the next element, or false when the walk ends (no further start marker, or
// an element with neither a closing marker nor "/>", or no ">").
class element_walk {
public:
    element_walk(const std::string& doc, const std::string& tag)
        : doc_(doc), start_("<" + tag), self_closing_(doc, "/>"), closing_(doc, "</" + tag + ">") {}

    bool next(element& out) {
        std::size_t d = gbk_find(doc_, start_, s_);
        if (d == npos) return false;
        std::size_t h = self_closing_.at_or_after(d);
        std::size_t e = closing_.at_or_after(d);
        out.content_from = out.content_to = npos;
        if (h != npos && e == npos) {
            out.start_text = doc_.substr(d, h - d);
            s_ = h;
            return true;
        }
        if (e == npos) return false;
        std::size_t u = gbk_find(doc_, ">", d);
        if (u == npos) return false;
        out.start_text = doc_.substr(d, u - d);
        out.content_from = u;
        out.content_to = e;
        s_ = u;
        return true;
    }

private:
    const std::string& doc_;
    std::string start_;
    forward_search self_closing_, closing_;
    std::size_t s_ = 0;
};

std::string result_of(const std::string& doc, const element& el, const std::string& result_attr) {
    if (result_attr.empty()) return between(doc, el.content_from, el.content_to);
    bool has_result = false;
    return quoted_after(el.start_text, result_attr, has_result);
}

}  // namespace

std::string xml_get_value(const std::string& text, const std::string& tag, const std::string& attr_name,
                          const std::string& attr_value, const std::string& result_attr) {
    if (text.empty()) return {};
    const query_doc qd(text);
    const std::string& doc = qd.text();

    if (attr_name.empty()) {
        std::size_t c = gbk_find(doc, "<" + tag);
        if (c == npos) return {};
        std::size_t h = gbk_find(doc, "/>", c);
        std::size_t l = gbk_find(doc, "</" + tag + ">", c);
        if (l == npos || (h != npos && h < l)) return {};
        return between(doc, gbk_find(doc, ">", c), l);
    }

    element_walk walk(doc, tag);
    element el;
    while (walk.next(el)) {
        bool has_attr = false;
        std::string value = quoted_after(el.start_text, attr_name, has_attr);
        // An element without the attribute ends the search.
        if (!has_attr) return {};
        if (value == attr_value) return result_of(doc, el, result_attr);
    }
    return {};
}

struct xml_record_index::impl {
    std::string doc;
    std::vector<element> elements;
    std::unordered_map<std::string, std::size_t> first_by_value;
};

xml_record_index::xml_record_index(const std::string& text, const std::string& tag, const std::string& attr_name)
    : d_(std::make_unique<impl>()) {
    if (text.empty() || attr_name.empty()) return;
    d_->doc = query_doc(text).text();
    element_walk walk(d_->doc, tag);
    element el;
    while (walk.next(el)) {
        bool has_attr = false;
        std::string value = quoted_after(el.start_text, attr_name, has_attr);
        // The query stops at the first element without the attribute, so no
        // later element can ever be selected.
        if (!has_attr) break;
        if (d_->first_by_value.emplace(value, d_->elements.size()).second) d_->elements.push_back(el);
    }
}

xml_record_index::~xml_record_index() = default;

std::string xml_record_index::get(const std::string& attr_value, const std::string& result_attr) const {
    auto it = d_->first_by_value.find(attr_value);
    if (it == d_->first_by_value.end()) return {};
    return result_of(d_->doc, d_->elements[it->second], result_attr);
}

std::string xml_get_file_value(const std::string& path, const std::string& tag, const std::string& attr_name,
                               const std::string& attr_value, const std::string& result_attr) {
    return xml_get_value(read_text_file(nullptr, path), tag, attr_name, attr_value, result_attr);
}

std::string read_text_file(status_line* status, const std::string& path) {
    std::string bytes;
    if (!read_file(path, bytes)) {
        if (status) status->set_text("error reading file:" + path);
        return {};
    }
    std::string out;
    out.reserve(bytes.size() + 1);
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::size_t lf = bytes.find('\n', pos);
        std::size_t end = lf == npos ? bytes.size() : lf;
        std::size_t line_end = (end > pos && bytes[end - 1] == '\r' && lf != npos) ? end - 1 : end;
        out.append(bytes, pos, line_end - pos);
        out.push_back('\n');
        pos = lf == npos ? bytes.size() : lf + 1;
    }
    return out;
}

bool save_text_file(status_line* status, const std::string& path, const std::string& text, file_access access) {
    std::string bytes;
    bytes.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n') bytes.push_back('\r');
        bytes.push_back(c);
    }
    if (write_file_atomic(path, bytes, access)) return true;
    if (status) status->set_text("error in saving file" + path);
    return false;
}

namespace {
// The number conversions look at no more than this much of their text.
constexpr std::size_t working_copy = 255;

std::string_view number_text(const std::string& text, bool& negative) {
    std::string_view v(text.data(), std::min(text.size(), working_copy));
    v = v.substr(0, v.find('\0'));
    std::size_t i = 0;
    while (i < v.size() && (v[i] == ' ' || (v[i] >= '\t' && v[i] <= '\r'))) ++i;
    negative = false;
    if (i < v.size() && (v[i] == '+' || v[i] == '-')) negative = v[i++] == '-';
    return v.substr(i);
}
}  // namespace

std::int32_t text_to_int(const std::string& text) {
    bool negative = false;
    std::string_view v = number_text(text, negative);
    std::int64_t value = 0;
    const std::int64_t limit = negative ? -static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::min())
                                        : std::numeric_limits<std::int32_t>::max();
    for (char c : v) {
        if (c < '0' || c > '9') break;
        value = std::min<std::int64_t>(value * 10 + (c - '0'), limit);
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

float text_to_float(const std::string& text) {
    bool negative = false;
    std::string_view v = number_text(text, negative);
    // Only decimal notation: digits, an optional point, an optional exponent.
    std::size_t i = 0, digits = 0;
    while (i < v.size() && v[i] >= '0' && v[i] <= '9') ++i, ++digits;
    if (i < v.size() && v[i] == '.') {
        ++i;
        while (i < v.size() && v[i] >= '0' && v[i] <= '9') ++i, ++digits;
    }
    if (digits == 0) return 0.0f;
    std::size_t mantissa_end = i;
    if (i < v.size() && (v[i] == 'e' || v[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < v.size() && (v[j] == '+' || v[j] == '-')) ++j;
        std::size_t k = j;
        while (k < v.size() && v[k] >= '0' && v[k] <= '9') ++k;
        if (k > j) mantissa_end = k;
    }
    double value = 0;
    auto r = std::from_chars(v.data(), v.data() + mantissa_end, value, std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range) {
        // Too large saturates, too small is zero.
        bool big = false;
        for (std::size_t k = 0; k < mantissa_end; ++k)
            if (v[k] == 'e' || v[k] == 'E') {
                big = k + 1 < mantissa_end && v[k + 1] != '-';
                break;
            }
        value = big ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (r.ec != std::errc()) {
        value = 0;
    }
    float f = static_cast<float>(value);
    if (std::isinf(f)) f = std::numeric_limits<float>::max();
    return negative ? -f : f;
}

float version_number(const std::string& text) {
    bool negative = false;
    const std::string_view v = number_text(text, negative);
    std::size_t i = 0;
    while (i < v.size() && v[i] >= '0' && v[i] <= '9') ++i;
    if (i < v.size() && v[i] == '.') {
        ++i;
        while (i < v.size() && v[i] >= '0' && v[i] <= '9') ++i;
    }
    const float plain = text_to_float(std::string(v.substr(0, i)));
    return negative ? -plain : plain;
}

std::string int_to_text(std::int32_t value) { return std::to_string(value); }

}  // namespace mirvo
