#include "client/lessons/player/movie_address.h"

#include <cctype>

namespace mirvo::player {
namespace {

bool is_hex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

bool needs_escape(unsigned char c) {
    if (c <= 0x20 || c >= 0x7F) return true;
    switch (c) {
        case '"':
        case '<':
        case '>':
        case '\\':
        case '^':
        case '`':
        case '{':
        case '|':
        case '}':
            return true;
        default:
            return false;
    }
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

}  // namespace

std::string normalise_movie_address(std::string_view address) {
    while (!address.empty() && (address.front() == ' ' || address.front() == '\t')) address.remove_prefix(1);
    while (!address.empty() && (address.back() == ' ' || address.back() == '\t')) address.remove_suffix(1);
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(address.size());
    for (std::size_t i = 0; i < address.size(); ++i) {
        const auto c = static_cast<unsigned char>(address[i]);
        const bool stray_percent =
            c == '%' && !(i + 2 < address.size() && is_hex(address[i + 1]) && is_hex(address[i + 2]));
        if (needs_escape(c) || stray_percent) {
            out.push_back('%');
            out.push_back(digits[c >> 4]);
            out.push_back(digits[c & 0xF]);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

std::optional<std::string> page_path_for(std::string_view address) {
    const auto colon = address.find("://");
    if (colon == std::string_view::npos) return std::nullopt;
    const std::string scheme = lower(address.substr(0, colon));
    if (scheme != "http" && scheme != "https") return std::nullopt;
    std::string_view rest = address.substr(colon + 3);
    if (const auto hash = rest.find('#'); hash != std::string_view::npos) rest = rest.substr(0, hash);
    const auto end_of_host = rest.find_first_of("/?");
    const std::string_view host = rest.substr(0, end_of_host);
    if (host.empty()) return std::nullopt;
    std::string path = "/" + scheme + "/" + lower(host);
    if (end_of_host == std::string_view::npos)
        path += "/";
    else if (rest[end_of_host] == '?')
        path += "/" + std::string(rest.substr(end_of_host));
    else
        path += rest.substr(end_of_host);
    return path;
}

std::optional<std::string> address_for_page_path(std::string_view path) {
    for (const std::string_view scheme : {std::string_view("http"), std::string_view("https")}) {
        const std::string prefix = "/" + std::string(scheme) + "/";
        if (path.substr(0, prefix.size()) != prefix) continue;
        const std::string_view rest = path.substr(prefix.size());
        const auto end_of_host = rest.find_first_of("/?");
        if (rest.empty() || end_of_host == 0) return std::nullopt;
        return std::string(scheme) + "://" + std::string(rest);
    }
    return std::nullopt;
}

std::string folder_of(std::string_view path) {
    const auto query = path.find('?');
    const std::string_view bare = path.substr(0, query);
    const auto slash = bare.rfind('/');
    return slash == std::string_view::npos ? std::string() : std::string(bare.substr(0, slash + 1));
}

}  // namespace mirvo::player
