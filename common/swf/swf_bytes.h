// Byte-level pieces shared by the movie reader and the movie writer: tag codes,
// little-endian integers, tag headers and the one action sequence both emit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace mirvo::swf::detail {

enum tag_code : int {
    tag_end = 0,
    tag_show_frame = 1,
    tag_define_shape = 2,
    tag_set_background_color = 9,
    tag_do_action = 12,
    tag_define_sound = 14,
    tag_start_sound = 15,
    tag_place_object2 = 26,
    tag_remove_object2 = 28,
    tag_define_sprite = 39,
    tag_file_attributes = 69,
};

enum action_code : unsigned char {
    action_end = 0x00,
    action_stop = 0x07,
    action_trace = 0x26,
    action_push = 0x96,
};

// Movies larger than this (uncompressed) are refused: a lesson movie is far
// smaller, and the limit keeps a hostile length field from exhausting memory.
inline constexpr std::size_t max_movie_length = 64u << 20;

inline void put_u16(std::string& out, unsigned value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>((value >> 8) & 0xFF));
}

inline void put_u32(std::string& out, std::uint32_t value) {
    put_u16(out, value & 0xFFFF);
    put_u16(out, value >> 16);
}

inline unsigned get_u16(std::string_view in, std::size_t pos) {
    return static_cast<unsigned char>(in[pos]) | (static_cast<unsigned char>(in[pos + 1]) << 8);
}

inline std::uint32_t get_u32(std::string_view in, std::size_t pos) {
    return get_u16(in, pos) | (static_cast<std::uint32_t>(get_u16(in, pos + 2)) << 16);
}

// Short tag header when the body fits in six bits of length, long one otherwise.
inline void append_tag(std::string& out, int code, std::string_view body) {
    if (body.size() < 0x3F) {
        put_u16(out, static_cast<unsigned>(code << 6) | static_cast<unsigned>(body.size()));
    } else {
        put_u16(out, static_cast<unsigned>(code << 6) | 0x3F);
        put_u32(out, static_cast<std::uint32_t>(body.size()));
    }
    out.append(body);
}

// Longest text a single ActionPush can carry (its length field is 16 bits and
// also counts the type byte and the terminator).
inline constexpr std::size_t max_push_text = 0xFFFF - 2;

// DoAction body: push `text` as a string, trace it, end. The caller keeps the
// text free of NUL bytes and within max_push_text.
inline std::string trace_actions(std::string_view text) {
    std::string actions;
    actions.push_back(static_cast<char>(action_push));
    put_u16(actions, static_cast<unsigned>(text.size() + 2));
    actions.push_back(0);  // push type 0: string
    actions.append(text);
    actions.push_back(0);
    actions.push_back(static_cast<char>(action_trace));
    actions.push_back(static_cast<char>(action_end));
    return actions;
}

}  // namespace mirvo::swf::detail
