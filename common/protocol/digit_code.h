// The client's digit code: short texts <-> strings of decimal digits, with ten
// code tables (string resources 270-279) chosen per character at random.
//
// Coded form: D + body + R + L + T, all digits. Per plain byte the body holds
// a table digit t and the byte's two-digit code in table t ("??" when the
// byte is not in the tables); R is the last draw of the generator, D its last
// digit, L the body length as at least three digits, T the first three digits
// of L coded like body characters. Upper case is folded before lookup, so it
// does not survive; texts of up to 333 bytes do.
#pragma once

#include <cstdint>
#include <string>

namespace mirvo {

// mode "e" encodes; any other mode decodes.
std::string digit_code(const std::string& text, const std::string& mode);
// Pauses 10 ms per character (pumping messages) so that the table choice
// follows the clock; a text of n bytes takes at least 10 * (n + 3) ms.
std::string digit_encode(const std::string& plain);
// Never fails: malformed input gives "?" characters or a shorter text.
std::string digit_decode(const std::string& coded);

// The classic C runtime generator the table choice rests on: seeded with a
// number, each draw is 0..32767.
class classic_rand {
public:
    explicit classic_rand(std::uint32_t seed) : state_(seed) {}
    int next() {
        state_ = state_ * 214013u + 2531011u;
        return static_cast<int>((state_ >> 16) & 0x7FFF);
    }

private:
    std::uint32_t state_;
};

// Milliseconds of a monotonic clock, wrapping at 2^32 like the system tick count.
std::uint32_t tick_count_ms();

}  // namespace mirvo
