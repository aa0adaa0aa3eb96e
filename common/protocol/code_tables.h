// The ten code tables of the client's digit code. The client's string table
// hands them out as resources 270-279; the service decodes with the same ones.
#pragma once

namespace mirvo {

// First id and number of the code tables (table k is resource 270 + k).
inline constexpr int code_table_first_id = 270;
inline constexpr int code_table_count = 10;

// The text of code table resource id (270-279): 64 entries "~c_NN", 320
// characters. nullptr for any other id.
const char* code_table_text(int id);

}  // namespace mirvo
