#include "client/res/string_table.h"

#include "client/res/coded_resources.h"
#include "client/res/strings.h"
#include "common/protocol/code_tables.h"
#include "common/text/gbk.h"

#include <map>

namespace mirvo {

namespace {
// Built once: every entry turned into GBK, the programs' own text.
const std::map<int, std::string>& table() {
    static const std::map<int, std::string> t = [] {
        std::map<int, std::string> m;
        for (std::size_t i = 0; i < string_entry_count; ++i)
            m.emplace(string_entries[i].id, utf8_to_gbk(string_entries[i].utf8));
        // The code tables and the coded deployment constants are plain ASCII digits
        // and table text, kept apart because the build writes some of them.
        for (int id = code_table_first_id; id < code_table_first_id + code_table_count; ++id)
            if (const char* t = code_table_text(id)) m.emplace(id, t);
        for (int id : {237, 238, 239, 240, 241, 242, 243, 244, 245, 252, 254, 255, 256, 259})
            m.emplace(id, coded_constant_text(id));
        return m;
    }();
    return t;
}
}  // namespace

const std::string& load_string(int id) {
    static const std::string empty;
    auto it = table().find(id);
    return it == table().end() ? empty : it->second;
}

std::string join_strings(std::initializer_list<int> ids) {
    std::string out;
    for (int id : ids) out += load_string(id);
    return out;
}

}  // namespace mirvo
