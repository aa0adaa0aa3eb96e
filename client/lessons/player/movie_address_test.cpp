#include "client/lessons/player/movie_address.h"

#include <gtest/gtest.h>

namespace mirvo::player {
namespace {

TEST(movie_address, gbk_bytes_and_unsafe_characters_are_escaped_once) {
    // "课程" in GBK is C1 CE B3 CC; an existing escape stays as it is.
    EXPECT_EQ(normalise_movie_address("  http://h:1/\xBF\xCE\xB3\xCC/a b%41.swf \t"),
              "http://h:1/%BF%CE%B3%CC/a%20b%41.swf");
    EXPECT_EQ(normalise_movie_address("http://h/50%/x\"y|z"), "http://h/50%25/x%22y%7Cz");
    EXPECT_EQ(normalise_movie_address("http://h/%4"), "http://h/%254");
}

TEST(movie_address, page_paths_mirror_the_server_address_and_map_back) {
    EXPECT_EQ(page_path_for("http://127.0.0.1:18080/m/l1/0010/a.swf").value(), "/http/127.0.0.1:18080/m/l1/0010/a.swf");
    EXPECT_EQ(page_path_for("HTTPS://Example.ORG").value(), "/https/example.org/");
    EXPECT_EQ(page_path_for("http://h:8/a.swf?x=1#frag").value(), "/http/h:8/a.swf?x=1");
    EXPECT_EQ(page_path_for("http://h:8?x=1").value(), "/http/h:8/?x=1");
    EXPECT_FALSE(page_path_for("file:///etc/passwd"));
    EXPECT_FALSE(page_path_for("ftp://h/a.swf"));
    EXPECT_FALSE(page_path_for("a.swf"));
    EXPECT_FALSE(page_path_for("http:///a.swf"));

    EXPECT_EQ(address_for_page_path("/http/127.0.0.1:18080/m/b.swf?v=2").value(), "http://127.0.0.1:18080/m/b.swf?v=2");
    EXPECT_EQ(address_for_page_path("/https/h/").value(), "https://h/");
    EXPECT_FALSE(address_for_page_path("/ruffle/ruffle.js"));
    EXPECT_FALSE(address_for_page_path("/http//a.swf"));
    EXPECT_FALSE(address_for_page_path("/http/"));
}

TEST(movie_address, the_folder_keeps_its_slash_and_ignores_the_query) {
    EXPECT_EQ(folder_of("/http/h/m/l1/0010/a.swf"), "/http/h/m/l1/0010/");
    EXPECT_EQ(folder_of("/http/h/a.swf?next=/x/y"), "/http/h/");
    EXPECT_EQ(folder_of("a.swf"), "");
}

}  // namespace
}  // namespace mirvo::player
