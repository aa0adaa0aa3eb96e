#include "server/query.h"

namespace mirvo::server {

namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string percent_decode(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            int hi = hex_value(s[i + 1]);
            int lo = hex_value(s[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out.push_back(static_cast<char>(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out.push_back(s[i]);
    }
    return out;
}

query query::parse(std::string_view raw) {
    query q;
    std::size_t pos = 0;
    while (pos < raw.size()) {
        std::size_t amp = raw.find('&', pos);
        std::string_view piece = raw.substr(pos, amp == std::string_view::npos ? raw.npos : amp - pos);
        std::size_t eq = piece.find('=');
        std::string_view key = piece.substr(0, eq);
        std::size_t value_start = eq == std::string_view::npos ? raw.size() : pos + eq + 1;
        std::size_t value_end = amp == std::string_view::npos ? raw.size() : amp;

        if (eq != std::string_view::npos) {
            if (key == "content") {
                value_end = raw.size();
            } else if (key == "user") {
                // The first of the keys that follow the user name in either
                // request shape ends it.
                std::size_t end = raw.npos;
                for (std::string_view next : {"&password=", "&pw="}) {
                    std::size_t f = raw.find(next, value_start);
                    if (f != raw.npos && f < end) end = f;
                }
                if (end != raw.npos) value_end = end;
            }
        }
        if (!key.empty()) {
            std::string value = eq == std::string_view::npos
                                    ? std::string()
                                    : percent_decode(raw.substr(value_start, value_end - value_start));
            q.pairs_.emplace_back(percent_decode(key), std::move(value));
        }
        if (value_end >= raw.size()) break;
        pos = value_end + 1;
    }
    return q;
}

bool query::has(std::string_view key) const {
    for (const auto& [k, v] : pairs_)
        if (k == key) return true;
    return false;
}

std::string query::get(std::string_view key) const {
    for (const auto& [k, v] : pairs_)
        if (k == key) return v;
    return {};
}

std::pair<std::string_view, std::string_view> split_target(std::string_view target) {
    std::size_t q = target.find('?');
    if (q == std::string_view::npos) return {target, {}};
    return {target.substr(0, q), target.substr(q + 1)};
}

}  // namespace mirvo::server
