// Feeds arbitrary texts to the digit decoder (server replies carry coded
// values), and checks that what it gives back is made of table characters or
// "?" and is never longer than the text could hold.
#include "common/protocol/code_tables.h"
#include "common/protocol/digit_code.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string in(reinterpret_cast<const char*>(data), size);
    const std::string out = mirvo::digit_decode(in);
    if (out.size() > in.size() / 3 + 1) std::abort();
    const char* table = mirvo::code_table_text(mirvo::code_table_first_id);
    for (char c : out) {
        const char key[3] = {'~', c, '\0'};
        if (c != '?' && (c == '\0' || !std::strstr(table, key))) std::abort();
    }
    return 0;
}
