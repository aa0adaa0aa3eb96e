// Signatures of download lists (Ed25519) and digests of the files they name
// (SHA-256): an update is checked against the service's key before anything
// in it is trusted, since lists and files travel over plain HTTP.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mirvo {

struct public_key {
    std::array<std::uint8_t, 32> bytes{};
    bool operator==(const public_key&) const = default;
};
struct private_key {
    std::array<std::uint8_t, 32> bytes{};
};
struct key_pair {
    private_key secret;
    public_key pub;
};

// Key texts are 64 hexadecimal digits, in either case. Blanks, line ends and
// whole lines beginning with "#" around them are allowed, so a key file may
// say what it is.
std::optional<public_key> parse_public_key(std::string_view text);
std::optional<private_key> parse_private_key(std::string_view text);
// 64 lower-case digits.
std::string key_text(const public_key& key);
std::string key_text(const private_key& key);
public_key public_key_of(const private_key& key);
// A fresh pair from the system's random source; nullopt when it gives none.
std::optional<key_pair> make_key_pair();

// A signature file's text: 128 lower-case hexadecimal digits and a line end.
std::string signature_text(const private_key& key, std::string_view message);
// True when signature (a signature file's text; blanks and line ends around
// the digits allowed) is key's signature of exactly these bytes.
bool signature_matches(const public_key& key, std::string_view message, std::string_view signature);

// SHA-256 as 64 lower-case hexadecimal digits.
std::string sha256_hex(std::string_view bytes);
// The same of a file (GBK program path), read in pieces; nullopt when the
// file cannot be read.
std::optional<std::string> file_sha256_hex(std::string_view gbk_path);
// True when expected (hexadecimal, either case) names digest.
bool same_digest(std::string_view expected, std::string_view digest);

// A list's signature lies beside it: list + ".sig".
inline constexpr const char* signature_suffix = ".sig";

enum class list_signature {
    valid,    // the signature file holds key's signature of the list's bytes
    missing,  // the list or its signature file cannot be read
    invalid,  // a signature that is not key's, or not of these bytes
};
// Checks the file at gbk_list_path against gbk_list_path + ".sig".
list_signature check_list_signature(const public_key& key, std::string_view gbk_list_path);

}  // namespace mirvo
