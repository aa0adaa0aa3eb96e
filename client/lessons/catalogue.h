// The lesson catalogue as the baselist reply gives it: categories holding
// sub-categories holding entries, and the entries again as one flat list in
// reading order. Entry i of the flat list is what the window's four columns
// (folder, title, kind, file) hold at index i.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace mirvo {

struct catalogue_entry {
    std::string folder;  // dir: the lesson's folder on the server
    std::string title;
    std::string kind;  // type: "lesson", or anything else for a program
    std::string file;  // file_name: the program file of a non-lesson
};

struct catalogue_subcategory {
    std::string title;
    std::size_t first = 0;  // index of its first entry in the flat list
    std::size_t count = 0;
};

struct catalogue_category {
    std::string title;
    std::vector<catalogue_subcategory> subcategories;
};

struct catalogue {
    std::string online_text;  // online_num, shown in the caption as it stands
    std::vector<catalogue_category> categories;
    std::vector<catalogue_entry> entries;

    // First index whose title (folder) equals text exactly.
    std::optional<std::size_t> find_title(const std::string& text) const;
    std::optional<std::size_t> find_folder(const std::string& text) const;
    // Entry i, or an entry of empty texts when i lies outside the list.
    catalogue_entry entry(std::size_t i) const;
};

// Reads a baselist reply. Categories, sub-categories and entries each stop at
// the first order whose title is empty. A failed (empty) reply gives an empty
// catalogue.
catalogue read_catalogue(const std::string& reply);

}  // namespace mirvo
