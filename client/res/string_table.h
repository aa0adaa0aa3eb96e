// The client's string table. Texts are kept as UTF-8 in the source and handed
// out as GBK, the programs' own text.
#pragma once

#include <initializer_list>
#include <string>

namespace mirvo {

// The GBK text of string resource id; empty for an unknown id.
const std::string& load_string(int id);
// The texts of several resources joined in the order given.
std::string join_strings(std::initializer_list<int> ids);

}  // namespace mirvo
