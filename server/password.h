// Password storage of the service: salted PBKDF2-HMAC-SHA256, never the text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace mirvo::server {

// Iterations for new hashes. Each stored hash records its own count, so the
// value can be raised later without breaking existing users.
constexpr unsigned default_pbkdf2_iterations = 100000;

// The form in which a password reaches the service: the client's digit code
// folds upper case and turns characters outside its tables into "?", so the
// service hashes and compares exactly what a digit-coded password decodes to.
// Computed by a round trip through the client's own code.
std::string canonical_password(std::string_view typed);

// The first character of typed (GBK) that the client's code cannot carry: one
// outside its tables, which it sends as "?", or "?" itself, which the service
// cannot tell from a lost character and so never accepts. nullopt when every
// character comes through (upper case counts: it is folded, and the service
// compares folded).
std::optional<std::string> uncarried_character(std::string_view typed);

// "pbkdf2-sha256$<iterations>$<salt hex>$<hash hex>" with a fresh random salt.
std::string hash_password(std::string_view canonical, unsigned iterations = default_pbkdf2_iterations);

// True when canonical matches the stored hash; false for anything malformed.
// The comparison does not stop at the first differing byte.
bool verify_password(std::string_view canonical, std::string_view stored);

// Does the work of verify_password against a hash of the default iteration
// count and throws the result away. A login for a user that does not exist
// calls this, so that it takes as long as one for a user that does, and the
// answer time does not tell which names exist.
void spend_password_check(std::string_view canonical);

// Fills out with n bytes from the system's random source.
bool random_bytes(void* out, std::size_t n);

// Lower-case hex of bytes.
std::string to_hex(std::string_view bytes);

}  // namespace mirvo::server
