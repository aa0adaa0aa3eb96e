#include "server/catalogue.h"

#include "common/fs/paths.h"
#include "common/protocol/digit_code.h"
#include "common/text/gbk.h"

namespace mirvo::server {

namespace {

constexpr std::size_t max_value_bytes = 255;

bool is_decimal(std::string_view s) {
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) s.remove_prefix(1);
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// what: a description for the message; later: attribute names that follow
// this value in its element.
bool check_value(std::string_view v, std::string_view what, bool may_be_empty,
                 std::initializer_list<std::string_view> later, std::string& error) {
    if (v.empty() && !may_be_empty) {
        error = std::string(what) + " is empty";
        return false;
    }
    if (v.size() > max_value_bytes) {
        error = std::string(what) + " is longer than 255 bytes";
        return false;
    }
    for (unsigned char c : v) {
        if (c < 0x20 || c == '"' || c == '<' || c == '>') {
            error = std::string(what) + " holds a double quote, markup or a control character";
            return false;
        }
    }
    for (std::string_view name : later) {
        if (gbk_find(v, name) != std::string_view::npos) {
            error = std::string(what) + " holds the text \"" + std::string(name) + "\"";
            return false;
        }
    }
    return true;
}

bool check_segment_path(std::string_view v, std::string_view what, std::string& error) {
    if (!is_confined(v) || v.empty() || v.front() == '/' || v.front() == '\\') {
        error = std::string(what) + " must be a relative path inside the site";
        return false;
    }
    return true;
}

void append_attr(std::string& out, std::string_view name, std::string_view value) {
    out += ' ';
    out += name;
    out += "=\"";
    out += value;
    out += '"';
}

}  // namespace

bool parse_catalogue(std::string_view text, catalogue& out, std::string& error) {
    out = catalogue{};
    catalogue_entry* last_lesson = nullptr;
    int line_no = 0;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t nl = text.find('\n', pos);
        std::string_view line = text.substr(pos, nl == text.npos ? text.npos : nl - pos);
        pos = nl == text.npos ? text.size() + 1 : nl + 1;
        ++line_no;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line.front() == '#') continue;

        std::vector<std::string> f = gbk_split(utf8_to_gbk(line), "\t");
        const std::string& kind = f[0];
        auto fail = [&](const std::string& why) {
            error = "line " + std::to_string(line_no) + ": " + why;
            return false;
        };
        auto need = [&](std::size_t lo, std::size_t hi) { return f.size() >= lo + 1 && f.size() <= hi + 1; };

        if (kind == "movie_folder") {
            if (!need(1, 1)) return fail("movie_folder takes one field");
            out.movie_folder = f[1];
        } else if (kind == "category") {
            if (!need(1, 1)) return fail("category takes one field");
            out.categories.push_back({f[1], {}});
            last_lesson = nullptr;
        } else if (kind == "subcategory") {
            if (!need(1, 1)) return fail("subcategory takes one field");
            if (out.categories.empty()) return fail("subcategory before any category");
            out.categories.back().subcategories.push_back({f[1], {}});
            last_lesson = nullptr;
        } else if (kind == "lesson" || kind == "program") {
            if (out.categories.empty() || out.categories.back().subcategories.empty())
                return fail(kind + " before any subcategory");
            catalogue_entry e;
            if (kind == "lesson") {
                if (!need(2, 3)) return fail("lesson takes a title, a folder and an optional file name");
                e = {f[1], f[2], "lesson", f.size() > 3 ? f[3] : std::string(), {}};
            } else {
                if (!need(4, 4)) return fail("program takes a title, a folder, a kind and a file name");
                if (f[3] == "lesson") return fail("a program's kind may not be \"lesson\"");
                e = {f[1], f[2], f[3], f[4], {}};
            }
            auto& entries = out.categories.back().subcategories.back().entries;
            entries.push_back(std::move(e));
            last_lesson = kind == "lesson" ? &entries.back() : nullptr;
        } else if (kind == "file") {
            if (!need(1, 2)) return fail("file takes a name and an optional delay");
            if (!last_lesson) return fail("file outside a lesson");
            last_lesson->files.push_back({f[1], f.size() > 2 ? f[2] : std::string()});
        } else if (kind == "ad") {
            if (!need(2, 2)) return fail("ad takes a text and an address");
            out.ads.push_back({f[1], f[2]});
        } else {
            return fail("unknown record \"" + gbk_to_utf8(kind) + "\"");
        }
    }
    return validate_catalogue(out, error);
}

bool validate_catalogue(const catalogue& c, std::string& error) {
    if (!check_value(c.movie_folder, "movie folder", false, {}, error) ||
        !check_segment_path(c.movie_folder, "movie folder", error))
        return false;
    // The client gets the movie folder digit-coded; the code folds upper case
    // and sends what it cannot carry as "?", which would name another folder.
    if (const std::string received = digit_decode(digit_encode(c.movie_folder)); received != c.movie_folder) {
        error = "movie folder " + gbk_to_utf8(c.movie_folder) + " would reach the client as " + gbk_to_utf8(received) +
                " (its code folds upper case and cannot carry every character)";
        return false;
    }
    for (const auto& cat : c.categories) {
        if (!check_value(cat.title, "category title", false, {}, error)) return false;
        for (const auto& sub : cat.subcategories) {
            if (!check_value(sub.title, "subcategory title", false, {}, error)) return false;
            for (const auto& e : sub.entries) {
                // Attribute order in the reply: order, dir, type, file_name, title.
                if (!check_value(e.dir, "folder", e.type != "lesson", {"type", "file_name", "title"}, error) ||
                    !check_value(e.type, "kind", false, {"file_name", "title"}, error) ||
                    !check_value(e.file_name, "file name", true, {"title"}, error) ||
                    !check_value(e.title, "title", false, {}, error))
                    return false;
                if (e.type == "lesson" && !check_segment_path(e.dir, "lesson folder", error)) return false;
                for (const auto& f : e.files) {
                    // Attribute order: order, delay_time, name.
                    if (!check_value(f.name, "movie name", false, {}, error)) return false;
                    if (!f.delay_time.empty() && !is_decimal(f.delay_time)) {
                        error = "delay of " + gbk_to_utf8(f.name) + " is not a whole number";
                        return false;
                    }
                    if (f.name.find_first_of("/\\") != std::string::npos || !is_confined(f.name)) {
                        error = "movie name " + gbk_to_utf8(f.name) + " must be a plain file name";
                        return false;
                    }
                }
            }
        }
    }
    for (const auto& a : c.ads) {
        // Attribute order: order, url, text.
        if (!check_value(a.url, "ad address", true, {"text"}, error) ||
            !check_value(a.text, "ad text", false, {}, error))
            return false;
    }
    return true;
}

std::string render_catalogue(const catalogue& c) {
    std::string out;
    int s = 0;
    for (const auto& cat : c.categories) {
        out += "<sort_list";
        append_attr(out, "order", std::to_string(++s));
        append_attr(out, "title", cat.title);
        out += ">\r\n";
        int l = 0;
        for (const auto& sub : cat.subcategories) {
            out += "<lesson_list";
            append_attr(out, "order", std::to_string(++l));
            append_attr(out, "title", sub.title);
            out += ">\r\n";
            int e = 0;
            for (const auto& entry : sub.entries) {
                out += "<lesson";
                append_attr(out, "order", std::to_string(++e));
                append_attr(out, "dir", entry.dir);
                append_attr(out, "type", entry.type);
                append_attr(out, "file_name", entry.file_name);
                append_attr(out, "title", entry.title);
                out += " />\r\n";
            }
            out += "</lesson_list>\r\n";
        }
        out += "</sort_list>\r\n";
    }
    return out;
}

}  // namespace mirvo::server
