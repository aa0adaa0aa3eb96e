// Movie addresses as the page sees them. The page lives on our own URL scheme
// and a movie is served to it under that scheme at a path that mirrors its
// server address (/http/host:port/folder/name.swf), so the browser never meets
// a cross-origin load, the movie's own URL keeps its folder, and what the
// movie loads relative to itself maps back to the same server folder.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace mirvo::player {

inline constexpr char page_scheme[] = "mirvo-player";
inline constexpr char page_host[] = "player";

// An address from the lesson window (GBK bytes, names usually already
// percent-encoded) made safe for URL parsers: bytes outside printable ASCII
// and the few characters URLs never carry raw are percent-encoded, existing
// escapes are kept, surrounding blanks dropped. The server decodes the same
// bytes either way.
std::string normalise_movie_address(std::string_view address);

// "/http/host:port/path?query" for an http or https address; nullopt for any
// other address. The fragment is dropped.
std::optional<std::string> page_path_for(std::string_view address);

// The server address behind a page path; nullopt when the path is not one.
std::optional<std::string> address_for_page_path(std::string_view path);

// The folder part of a path or address, with its trailing slash.
std::string folder_of(std::string_view path);

}  // namespace mirvo::player
