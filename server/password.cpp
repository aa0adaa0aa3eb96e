#include "server/password.h"

#include "common/protocol/digit_code.h"
#include "common/text/gbk.h"

#include <nettle/pbkdf2.h>
#include <sys/random.h>

#include <charconv>
#include <cstdint>
#include <vector>

namespace mirvo::server {

namespace {

constexpr std::size_t salt_bytes = 16;
constexpr std::size_t hash_bytes = 32;
constexpr unsigned max_iterations = 10'000'000;  // a corrupt record must not stall a thread

bool from_hex(std::string_view hex, std::string& out) {
    if (hex.size() % 2 != 0) return false;
    out.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        unsigned v = 0;
        auto r = std::from_chars(hex.data() + i, hex.data() + i + 2, v, 16);
        if (r.ec != std::errc() || r.ptr != hex.data() + i + 2) return false;
        out.push_back(static_cast<char>(v));
    }
    return true;
}

std::string derive(std::string_view canonical, unsigned iterations, std::string_view salt) {
    std::string out(hash_bytes, '\0');
    pbkdf2_hmac_sha256(canonical.size(), reinterpret_cast<const std::uint8_t*>(canonical.data()), iterations,
                       salt.size(), reinterpret_cast<const std::uint8_t*>(salt.data()), out.size(),
                       reinterpret_cast<std::uint8_t*>(out.data()));
    return out;
}

// Compares hash_bytes bytes without stopping at the first difference.
bool same_bytes(const std::string& a, const std::string& b) {
    unsigned char diff = 0;
    for (std::size_t i = 0; i < hash_bytes; ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

}  // namespace

std::string canonical_password(std::string_view typed) { return digit_decode(digit_encode(std::string(typed))); }

std::optional<std::string> uncarried_character(std::string_view typed) {
    for (std::size_t i = 0; i < typed.size();) {
        const std::string c(typed.substr(i, gbk_char_len(typed, i)));
        if (c == "?" || canonical_password(c) != gbk_to_lower(c)) return c;
        i += c.size();
    }
    return std::nullopt;
}

bool random_bytes(void* out, std::size_t n) {
    auto* p = static_cast<unsigned char*>(out);
    while (n > 0) {
        ssize_t got = getrandom(p, n, 0);
        if (got <= 0) return false;
        p += got;
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

std::string to_hex(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

std::string hash_password(std::string_view canonical, unsigned iterations) {
    std::string salt(salt_bytes, '\0');
    if (!random_bytes(salt.data(), salt.size())) return {};
    return "pbkdf2-sha256$" + std::to_string(iterations) + "$" + to_hex(salt) + "$" +
           to_hex(derive(canonical, iterations, salt));
}

bool verify_password(std::string_view canonical, std::string_view stored) {
    const std::vector<std::string> parts = gbk_split(stored, "$");
    if (parts.size() != 4 || parts[0] != "pbkdf2-sha256") return false;
    unsigned iterations = 0;
    auto r = std::from_chars(parts[1].data(), parts[1].data() + parts[1].size(), iterations);
    if (r.ec != std::errc() || r.ptr != parts[1].data() + parts[1].size()) return false;
    if (iterations == 0 || iterations > max_iterations) return false;
    std::string salt, expected;
    if (!from_hex(parts[2], salt) || !from_hex(parts[3], expected) || expected.size() != hash_bytes) return false;
    return same_bytes(derive(canonical, iterations, salt), expected);
}

void spend_password_check(std::string_view canonical) {
    // A fixed salt is enough: the result is thrown away, only the work counts.
    // The comparison keeps the optimiser from dropping the derivation.
    static const std::string salt(salt_bytes, '\x5a');
    static const std::string never(hash_bytes, '\0');
    volatile bool matched = same_bytes(derive(canonical, default_pbkdf2_iterations, salt), never);
    (void)matched;
}

}  // namespace mirvo::server
