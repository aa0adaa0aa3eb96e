// Reading, following and writing SWF movies: the player needs a movie's header
// and a way to follow its root timeline; the reference service's demo content
// is generated with the writer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace mirvo::swf {

enum class compression { none, zlib, lzma };  // FWS, CWS, ZWS

struct header {
    compression kind = compression::none;
    int version = 0;
    std::uint32_t file_length = 0;   // uncompressed length as the header says
    int frame_count = 0;
    double frame_rate = 0;           // frames per second
    int width_twips = 0, height_twips = 0;
    bool avm2 = false;               // FileAttributes says ActionScript 3
};

// Parses the header of a whole movie (decompressing as needed). nullopt when
// the bytes are not a movie this code can read.
std::optional<header> read_header(const std::string& bytes);

// Returns the movie with a DoAction inserted before every root ShowFrame that
// traces marker_prefix + the 0-based frame index. The output is uncompressed
// (FWS) with a corrected length. nullopt when the movie cannot be rewritten
// (not parseable, or ActionScript 3).
std::optional<std::string> insert_frame_markers(const std::string& bytes,
                                                const std::string& marker_prefix);

}  // namespace mirvo::swf
