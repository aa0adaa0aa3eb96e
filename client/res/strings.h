// The plain (UTF-8) entries of the client's string table.
#pragma once

#include <cstddef>

namespace mirvo {

struct string_entry {
    int id;
    const char* utf8;
};
extern const string_entry string_entries[];
extern const std::size_t string_entry_count;

}  // namespace mirvo
