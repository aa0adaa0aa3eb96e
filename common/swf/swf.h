// Reading, following and writing SWF movies: the player needs a movie's header
// and a way to follow its root timeline; the reference service's demo content
// is generated with the writer (writer.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace mirvo::swf {

enum class compression { none, zlib, lzma };  // FWS, CWS, ZWS

struct header {
    compression kind = compression::none;
    int version = 0;
    std::uint32_t file_length = 0;  // uncompressed length as the header says
    int frame_count = 0;
    double frame_rate = 0;                  // frames per second (8.8 fixed point in the file)
    int width_twips = 0, height_twips = 0;  // stage size; 20 twips to a pixel, 0 when inverted
    bool avm2 = false;                      // the first tag is FileAttributes marking ActionScript 3
};

// Parses the header of a movie (decompressing only the few bytes it needs).
// nullopt when the bytes do not start like a movie this code can read: wrong
// signature, a declared length below the header's own size or above 64 MB, a
// compressed stream that does not decode, or bytes ending inside the header.
// A movie cut short after its header still yields the header.
std::optional<header> read_header(const std::string& bytes);

// Returns the movie with a DoAction inserted before every root ShowFrame
// (never inside a DefineSprite) that traces marker_prefix followed by the
// decimal 0-based index of that root frame; nothing else changes. The output is
// uncompressed (FWS), same version, with a length field equal to its size.
// nullopt when the movie cannot be rewritten: ActionScript 3, a declared length
// above 64 MB, a body shorter than declared, a tag running past the body, no End
// tag, more than 65535 root frames, or a prefix with a NUL byte or longer than
// 1024 bytes. Use an ASCII prefix: strings are UTF-8 from version 6 on.
std::optional<std::string> insert_frame_markers(const std::string& bytes, const std::string& marker_prefix);

}  // namespace mirvo::swf
