#include "common/sign/update_identity.h"

#include "common/xmltext/xmltext.h"

#include <cstdio>

namespace mirvo {

namespace {

constexpr const char* target_element = "update_target";
constexpr const char* version_element = "update_version";

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Digits only, exactly n of them, at text[at].
bool read_digits(std::string_view text, std::size_t at, std::size_t n, int& out) {
    if (at + n > text.size()) return false;
    out = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        if (!is_digit(text[i])) return false;
        out = out * 10 + (text[i] - '0');
    }
    return true;
}

}  // namespace

bool is_version_text(std::string_view text) {
    if (text.empty() || !is_digit(text.front()) || !is_digit(text.back())) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (is_digit(text[i])) continue;
        if (text[i] != '.' || !is_digit(text[i + 1])) return false;
    }
    return true;
}

std::optional<list_identity> read_list_identity(const std::string& list_text) {
    list_identity out{xml_get_value(list_text, target_element), xml_get_value(list_text, version_element)};
    if (out.target.empty() || !is_version_text(out.version)) return std::nullopt;
    return out;
}

std::string list_identity_elements(const list_identity& identity) {
    return "<" + std::string(target_element) + ">" + identity.target + "</" + target_element + ">\r\n<" +
           version_element + ">" + identity.version + "</" + version_element + ">\r\n";
}

version_record version_record_of(const std::string& target) {
    if (target == client_target) return {"\\mirvo.xml", "mirvo"};
    // The catalogue's rule for a program's version document: its file name
    // without the extension's four characters.
    const std::string base = target.size() > 4 ? target.substr(0, target.size() - 4) : std::string();
    return {"\\" + base + ".xml", "version"};
}

std::string version_record_text(const version_record& record, const std::string& version) {
    return "<" + record.element + ">" + version + "</" + record.element + ">\r\n";
}

std::string signed_date_text(std::time_t when) {
    std::tm utc{};
    gmtime_r(&when, &utc);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                  utc.tm_hour, utc.tm_min, utc.tm_sec);
    return text;
}

std::optional<std::time_t> parse_signed_date(std::string_view text) {
    // Exactly the form signed_date_text writes.
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != 'Z')
        return std::nullopt;
    int year, month, day, hour, minute, second;
    if (!read_digits(text, 0, 4, year) || !read_digits(text, 5, 2, month) || !read_digits(text, 8, 2, day) ||
        !read_digits(text, 11, 2, hour) || !read_digits(text, 14, 2, minute) || !read_digits(text, 17, 2, second))
        return std::nullopt;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) return std::nullopt;
    std::tm utc{};
    utc.tm_year = year - 1900;
    utc.tm_mon = month - 1;
    utc.tm_mday = day;
    utc.tm_hour = hour;
    utc.tm_min = minute;
    utc.tm_sec = second;
    const std::time_t when = timegm(&utc);
    // A day the month does not have comes back as another date.
    if (when == static_cast<std::time_t>(-1) || signed_date_text(when) != text) return std::nullopt;
    return when;
}

}  // namespace mirvo
