// The service's catalogue: categories, sub-categories, entries (lessons and
// programs), each lesson's movies, and the ads. Values are GBK.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace mirvo::server {

struct lesson_file {
    std::string name;
    std::string delay_time;  // decimal text; empty lets the client use its default
};

struct catalogue_entry {
    std::string title;
    std::string dir;        // lessons: folder under the movie folder; programs: any text
    std::string type;       // "lesson" or a program kind
    std::string file_name;  // the program file for programs
    std::vector<lesson_file> files;
};

struct subcategory {
    std::string title;
    std::vector<catalogue_entry> entries;
};

struct category {
    std::string title;
    std::vector<subcategory> subcategories;
};

struct ad_link {
    std::string text;
    std::string url;
};

struct catalogue {
    std::string movie_folder;  // path under the site root where lesson movies lie
    std::vector<category> categories;
    std::vector<ad_link> ads;
};

// Reads the admin's catalogue file: UTF-8 text, one record per line, fields
// separated by tabs, "#" starts a comment line:
//   movie_folder <folder>
//   category     <title>
//   subcategory  <title>
//   lesson       <title> <dir> [<file_name>]
//   file         <name> [<delay_time>]        (belongs to the last lesson)
//   program      <title> <dir> <type> <file_name>
//   ad           <text> <url>
// Values are turned into GBK. On failure returns false with a message that
// names the line.
bool parse_catalogue(std::string_view utf8_text, catalogue& out, std::string& error);

// Checks that every value can be carried by the replies: the client reads
// them with a plain string search, so a value may not hold a double quote,
// markup or control bytes, nor the name of an attribute that follows it in
// the same element; titles and names may not be empty; folders and movie
// names must stay inside the site.
bool validate_catalogue(const catalogue& c, std::string& error);

// Reply text of the baselist action, without online_num.
std::string render_catalogue(const catalogue& c);

}  // namespace mirvo::server
