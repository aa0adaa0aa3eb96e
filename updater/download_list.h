// The download list the client leaves in dl/download.xml for the updater:
// the files to install, in the order of their numbers, and what to do after.
#pragma once

#include <string>
#include <vector>

namespace mirvo {

struct list_entry {
    std::string order;     // "1", "2", ...
    std::string get_name;  // path below the server base URL, "/"-separated
    std::string save_as;   // path below the program folder, "\"-separated
    std::string sha256;    // the file's digest (hexadecimal) when the list gives one
    std::string size;      // the file's size in bytes when the list gives one
};

struct download_list {
    // Numbered from 1 without gaps: the entries end at the first number that
    // has no entry or whose entry has no get_name; of two entries with the
    // same number only the first counts.
    std::vector<list_entry> entries;
    std::string version_file;        // fetched again once the entries are installed
    std::string run_after_download;  // the program started at the end, below the program folder
    std::string show_message;        // appended to the final message
};

// Reads a list's text (values verbatim, comments ignored). An empty text
// gives an empty list.
download_list read_download_list(const std::string& text);

// get_name split at its last "\" or "/": the folder part (empty without a
// separator) and the file part.
struct name_parts {
    std::string folder;
    std::string file;
};
name_parts split_get_name(const std::string& get_name);

}  // namespace mirvo
