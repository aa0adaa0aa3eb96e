// The string resources that hold the digit code itself and the deployment
// constants in coded form. load_string() answers these ids from here.
#pragma once

#include <string>

namespace mirvo {

// First and last id of the ten code tables (table k is resource 270 + k).
inline constexpr int code_table_first_id = 270;
inline constexpr int code_table_count = 10;

// The text of code table resource id (270-279): 64 entries "~c_NN", 320
// characters. nullptr for any other id.
const char* code_table_text(int id);

// The digit-coded piece stored under resource id (237-245, 252, 254-256, 259),
// written by the build from the configured deployment values. Empty for any
// other id.
std::string coded_constant_text(int id);

}  // namespace mirvo
