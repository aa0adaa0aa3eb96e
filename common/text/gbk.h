// GBK text helpers. The programs keep every text as GBK bytes in std::string;
// these are the only places that convert, search or fold such text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace mirvo {

// Length in bytes of the GBK character that starts at s[i] (1 or 2). A lead
// byte without a valid trail byte counts as one byte on its own.
std::size_t gbk_char_len(std::string_view s, std::size_t i);

// GBK -> UTF-8 and back. A character that cannot be converted becomes "?";
// everything else survives.
std::string gbk_to_utf8(std::string_view gbk);
std::string utf8_to_gbk(std::string_view utf8);

// First occurrence of needle at or after from that begins on a character
// boundary, or npos. Never matches on a trail byte. from must itself be a
// character boundary: 0, or a position found by this function plus the length
// of whole characters.
std::size_t gbk_find(std::string_view hay, std::string_view needle, std::size_t from = 0);
// Last character-aligned occurrence of the single byte c (an ASCII byte), or npos.
std::size_t gbk_rfind_char(std::string_view hay, char c);
// Splits at every character-aligned occurrence of any byte in seps (ASCII).
std::vector<std::string> gbk_split(std::string_view s, std::string_view seps);
// Replaces every character-aligned ASCII byte from with to.
std::string gbk_replace_char(std::string_view s, char from, char to);
// Replaces every character-aligned occurrence of from by to.
std::string gbk_replace_all(std::string_view s, std::string_view from, std::string_view to);

// The first max_chars characters of s (all of s when it is shorter): a cut
// that never splits a double-byte character.
std::string gbk_prefix(std::string_view s, std::size_t max_chars);

// ASCII-only case folding, stepping by character: bytes of double-byte
// characters are never touched.
std::string gbk_to_lower(std::string_view s);

}  // namespace mirvo
