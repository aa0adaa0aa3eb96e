#include "common/sign/sign.h"

#include "common/fs/paths.h"

#include <nettle/eddsa.h>
#include <nettle/sha2.h>
#include <sys/random.h>

#include <cerrno>
#include <cstddef>
#include <fstream>
#include <vector>

namespace mirvo {

namespace {

static_assert(ED25519_KEY_SIZE == 32 && ED25519_SIGNATURE_SIZE == 64 && SHA256_DIGEST_SIZE == 32);

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The hexadecimal digits of a key or signature text: lines that begin with
// "#" are notes, blanks around the digits are layout. Anything else between
// or beside the digits makes the text no key at all.
std::optional<std::string> digits_of(std::string_view text) {
    std::string digits;
    bool seen_digits = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        while (!line.empty() && is_blank(line.front())) line.remove_prefix(1);
        while (!line.empty() && is_blank(line.back())) line.remove_suffix(1);
        if (line.empty() || line.front() == '#') continue;
        // One line of digits: a second one would be two keys run together.
        if (seen_digits) return std::nullopt;
        seen_digits = true;
        digits = line;
    }
    return digits;
}

template <std::size_t N>
std::optional<std::array<std::uint8_t, N>> parse_hex(std::string_view text) {
    const std::optional<std::string> digits = digits_of(text);
    if (!digits || digits->size() != 2 * N) return std::nullopt;
    std::array<std::uint8_t, N> out{};
    for (std::size_t i = 0; i < N; ++i) {
        const int hi = hex_value((*digits)[2 * i]), lo = hex_value((*digits)[2 * i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out[i] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
    return out;
}

std::string to_hex(const std::uint8_t* bytes, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * size);
    for (std::size_t i = 0; i < size; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

const std::uint8_t* data_of(std::string_view bytes) { return reinterpret_cast<const std::uint8_t*>(bytes.data()); }

}  // namespace

std::optional<public_key> parse_public_key(std::string_view text) {
    auto bytes = parse_hex<32>(text);
    if (!bytes) return std::nullopt;
    return public_key{*bytes};
}

std::optional<private_key> parse_private_key(std::string_view text) {
    auto bytes = parse_hex<32>(text);
    if (!bytes) return std::nullopt;
    return private_key{*bytes};
}

std::string key_text(const public_key& key) { return to_hex(key.bytes.data(), key.bytes.size()); }
std::string key_text(const private_key& key) { return to_hex(key.bytes.data(), key.bytes.size()); }

public_key public_key_of(const private_key& key) {
    public_key pub;
    ed25519_sha512_public_key(pub.bytes.data(), key.bytes.data());
    return pub;
}

std::optional<key_pair> make_key_pair() {
    key_pair pair;
    std::size_t got = 0;
    while (got < pair.secret.bytes.size()) {
        const ssize_t n = ::getrandom(pair.secret.bytes.data() + got, pair.secret.bytes.size() - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;
        got += static_cast<std::size_t>(n);
    }
    pair.pub = public_key_of(pair.secret);
    return pair;
}

std::string signature_text(const private_key& key, std::string_view message) {
    const public_key pub = public_key_of(key);
    std::array<std::uint8_t, 64> signature{};
    ed25519_sha512_sign(pub.bytes.data(), key.bytes.data(), message.size(), data_of(message), signature.data());
    return to_hex(signature.data(), signature.size()) + "\n";
}

bool signature_matches(const public_key& key, std::string_view message, std::string_view signature) {
    const auto bytes = parse_hex<64>(signature);
    return bytes && ed25519_sha512_verify(key.bytes.data(), message.size(), data_of(message), bytes->data()) == 1;
}

std::string sha256_hex(std::string_view bytes) {
    sha256_ctx ctx;
    sha256_init(&ctx);
    sha256_update(&ctx, bytes.size(), data_of(bytes));
    std::array<std::uint8_t, 32> digest{};
    sha256_digest(&ctx, digest.size(), digest.data());
    return to_hex(digest.data(), digest.size());
}

std::optional<std::string> file_sha256_hex(std::string_view gbk_path) {
    if (is_directory(gbk_path)) return std::nullopt;
    std::ifstream in(to_native(gbk_path), std::ios::binary);
    if (!in) return std::nullopt;
    sha256_ctx ctx;
    sha256_init(&ctx);
    std::vector<char> buf(256 * 1024);
    while (in) {
        in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
        const std::streamsize n = in.gcount();
        if (n > 0) sha256_update(&ctx, static_cast<std::size_t>(n), reinterpret_cast<const std::uint8_t*>(buf.data()));
    }
    if (in.bad()) return std::nullopt;
    std::array<std::uint8_t, 32> digest{};
    sha256_digest(&ctx, digest.size(), digest.data());
    return to_hex(digest.data(), digest.size());
}

bool same_digest(std::string_view expected, std::string_view digest) {
    const auto a = parse_hex<32>(expected), b = parse_hex<32>(digest);
    return a && b && *a == *b;
}

list_signature check_list_signature(const public_key& key, std::string_view gbk_list_path) {
    std::string list, signature;
    if (!read_file(gbk_list_path, list) || !read_file(std::string(gbk_list_path) + signature_suffix, signature))
        return list_signature::missing;
    return signature_matches(key, list, signature) ? list_signature::valid : list_signature::invalid;
}

}  // namespace mirvo
