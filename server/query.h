// Reading the query strings the client sends. The client's values are GBK
// bytes, either raw or percent-encoded, so the query is taken apart here byte
// by byte instead of through a decoder that assumes UTF-8.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mirvo::server {

// %XX becomes the byte 0xXX; everything else (raw GBK bytes, "+", a "%" that
// is not followed by two hex digits) stays as it stands.
std::string percent_decode(std::string_view s);

class query {
public:
    // Parses the part of a request target after "?". Keys and values are
    // percent-decoded. Two keys are read specially because the client inserts
    // them without escaping and they may hold "&": "user" runs up to the
    // "&password=" or "&pw=" that follows it, and "content" (always the last
    // key of a suggestion) runs to the end of the query.
    static query parse(std::string_view raw);

    bool has(std::string_view key) const;
    // The first value of key; empty when absent.
    std::string get(std::string_view key) const;

    const std::vector<std::pair<std::string, std::string>>& pairs() const { return pairs_; }

private:
    std::vector<std::pair<std::string, std::string>> pairs_;
};

// Splits a raw request target into its path and its query (without "?").
std::pair<std::string_view, std::string_view> split_target(std::string_view target);

}  // namespace mirvo::server
