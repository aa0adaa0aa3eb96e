#include "common/protocol/digit_code.h"

#include "common/protocol/code_tables.h"
#include "common/ui/status.h"
#include "common/xmltext/xmltext.h"

#include <chrono>
#include <cstdio>
#include <cstring>

namespace mirvo {

namespace {

constexpr double pause_ms = 10;

// The tables are looked up again for every character: they are resources, and
// a resource lookup is what the stored codes are defined against.
const char* table(int t) {
    const char* text = code_table_text(code_table_first_id + t);
    return text ? text : "";
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A fresh seed from the clock for every character, then one draw.
int draw() { return classic_rand(tick_count_ms()).next(); }

std::string code_char(char c) {
    const int t = draw() % 10;
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    std::string code = "??";
    // A NUL or "~"/"_" byte is never a table character; searching for them
    // would match the entry markers instead.
    if (c != '\0' && c != '~' && c != '_') {
        const char* tab = table(t);
        const char key[3] = {'~', c, '\0'};
        if (const char* p = std::strstr(tab, key)) code.assign(p + 3, 2);
    }
    std::string out(1, static_cast<char>('0' + t));
    return out + code;
}

// One group: a table digit followed by codes, two characters each. A piece
// too short to hold a whole code reads as "?".
std::string decode_group(std::string_view g) {
    std::string out;
    if (g.empty()) return out;
    const int t = is_digit(g[0]) ? g[0] - '0' : 0;
    const char* tab = table(t);
    for (std::size_t i = 1; i < g.size(); i += 2) {
        if (i + 1 >= g.size() || !is_digit(g[i]) || !is_digit(g[i + 1])) {
            out += '?';
            continue;
        }
        const char key[4] = {'_', g[i], g[i + 1], '\0'};
        const char* p = std::strstr(tab, key);
        out += p ? p[-1] : '?';
    }
    return out;
}

// The shortest tail behind the body of a well-formed text: R (at least one
// digit), L (three) and T (nine).
constexpr std::size_t min_tail = 1 + 3 + 9;

}  // namespace

std::uint32_t tick_count_ms() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::string digit_encode(const std::string& plain) {
    std::string body;
    body.reserve(plain.size() * 3);
    for (char c : plain) {
        wait_pumping_messages(pause_ms);
        body += code_char(c);
    }
    char length[16];
    std::snprintf(length, sizeof length, "%.3d", static_cast<int>(body.size()));
    std::string trailer;
    for (int i = 0; i < 3; ++i) {
        wait_pumping_messages(pause_ms);
        trailer += code_char(length[i]);
    }
    const std::string r = std::to_string(draw());
    return r.substr(r.size() - 1) + body + r + length + trailer;
}

std::string digit_decode(const std::string& coded) {
    if (coded.empty()) return {};
    const std::string_view rest = std::string_view(coded).substr(1);
    std::string_view trailer = coded;
    if (trailer.size() > 9) trailer = trailer.substr(trailer.size() - 9);
    std::string length;
    for (int i = 0; i < 3 && !trailer.empty(); ++i) {
        const std::size_t n = std::min<std::size_t>(3, trailer.size());
        length += decode_group(trailer.substr(0, n));
        trailer.remove_prefix(n);
    }
    // A length beyond what the text can hold is cut to the body's room, so a
    // damaged text never decodes its own tail as characters.
    const std::int32_t n = text_to_int(length);
    const std::size_t room = rest.size() > min_tail ? rest.size() - min_tail : 0;
    const std::size_t body_len = n > 0 ? std::min<std::size_t>(static_cast<std::size_t>(n), room) : 0;
    const std::string_view body = rest.substr(0, body_len);
    std::string out;
    out.reserve(body.size() / 3 + 1);
    for (std::size_t i = 0; i < body.size(); i += 3) out += decode_group(body.substr(i, 3));
    return out;
}

std::string digit_code(const std::string& text, const std::string& mode) {
    return mode == "e" ? digit_encode(text) : digit_decode(text);
}

}  // namespace mirvo
