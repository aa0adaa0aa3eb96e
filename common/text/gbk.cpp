#include "common/text/gbk.h"

#include <iconv.h>

#include <cerrno>

namespace mirvo {

namespace {

bool is_lead(unsigned char c) { return c >= 0x81 && c <= 0xFE; }
bool is_trail(unsigned char c) { return c >= 0x40 && c <= 0xFE && c != 0x7F; }

std::size_t utf8_char_len(std::string_view s, std::size_t i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 1;
    if (i + n > s.size()) return 1;
    for (std::size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 1;
    return n;
}

// Converts with iconv; a sequence that cannot be converted becomes "?" and
// conversion goes on after it. step() tells how many input bytes one source
// character occupies, so a bad character is skipped whole.
template <typename Step>
std::string convert(const char* to, const char* from, std::string_view in, Step step) {
    std::string out;
    if (in.empty()) return out;
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
    out.reserve(in.size() * 2);
    std::size_t pos = 0;
    char buf[1024];
    while (pos < in.size()) {
        char* src = const_cast<char*>(in.data() + pos);
        std::size_t src_left = in.size() - pos;
        char* dst = buf;
        std::size_t dst_left = sizeof buf;
        std::size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
        int err = errno;
        out.append(buf, static_cast<std::size_t>(dst - buf));
        pos = in.size() - src_left;
        if (r != static_cast<std::size_t>(-1)) break;
        if (err == E2BIG) continue;
        // EILSEQ or EINVAL (truncated at the end): replace one character.
        out.push_back('?');
        pos += step(in, pos);
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(cd);
    return out;
}

}  // namespace

std::size_t gbk_char_len(std::string_view s, std::size_t i) {
    if (i + 1 < s.size() && is_lead(static_cast<unsigned char>(s[i])) && is_trail(static_cast<unsigned char>(s[i + 1])))
        return 2;
    return 1;
}

std::string gbk_to_utf8(std::string_view gbk) {
    return convert("UTF-8", "GBK", gbk, [](std::string_view s, std::size_t i) { return gbk_char_len(s, i); });
}

std::string utf8_to_gbk(std::string_view utf8) {
    return convert("GBK", "UTF-8", utf8, [](std::string_view s, std::size_t i) { return utf8_char_len(s, i); });
}

std::size_t gbk_find(std::string_view hay, std::string_view needle, std::size_t from) {
    if (from > hay.size()) return std::string_view::npos;
    if (needle.empty()) return from;
    const char first = needle.front();
    std::size_t i = from;
    while (i + needle.size() <= hay.size()) {
        if (hay[i] == first && hay.compare(i, needle.size(), needle) == 0) return i;
        i += gbk_char_len(hay, i);
    }
    return std::string_view::npos;
}

std::size_t gbk_rfind_char(std::string_view hay, char c) {
    std::size_t found = std::string_view::npos;
    for (std::size_t i = 0; i < hay.size(); i += gbk_char_len(hay, i))
        if (hay[i] == c && gbk_char_len(hay, i) == 1) found = i;
    return found;
}

std::vector<std::string> gbk_split(std::string_view s, std::string_view seps) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i < s.size();) {
        std::size_t n = gbk_char_len(s, i);
        if (n == 1 && seps.find(s[i]) != std::string_view::npos) {
            parts.emplace_back(s.substr(start, i - start));
            start = i + 1;
        }
        i += n;
    }
    parts.emplace_back(s.substr(start));
    return parts;
}

std::string gbk_replace_char(std::string_view s, char from, char to) {
    std::string out(s);
    for (std::size_t i = 0; i < out.size();) {
        std::size_t n = gbk_char_len(out, i);
        if (n == 1 && out[i] == from) out[i] = to;
        i += n;
    }
    return out;
}

std::string gbk_replace_all(std::string_view s, std::string_view from, std::string_view to) {
    if (from.empty()) return std::string(s);
    std::string out;
    std::size_t i = 0;
    while (i < s.size()) {
        if (s.compare(i, from.size(), from) == 0 && i + from.size() <= s.size()) {
            out.append(to);
            i += from.size();
        } else {
            std::size_t n = gbk_char_len(s, i);
            out.append(s.substr(i, n));
            i += n;
        }
    }
    return out;
}

std::string gbk_prefix(std::string_view s, std::size_t max_chars) {
    std::size_t end = 0;
    for (std::size_t n = 0; n < max_chars && end < s.size(); ++n) end += gbk_char_len(s, end);
    return std::string(s.substr(0, end));
}

std::string gbk_to_lower(std::string_view s) {
    std::string out(s);
    for (std::size_t i = 0; i < out.size();) {
        std::size_t n = gbk_char_len(out, i);
        if (n == 1 && out[i] >= 'A' && out[i] <= 'Z') out[i] = static_cast<char>(out[i] - 'A' + 'a');
        i += n;
    }
    return out;
}

}  // namespace mirvo
