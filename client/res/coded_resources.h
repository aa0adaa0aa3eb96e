// The string resources that hold the deployment constants in coded form.
// load_string() answers these ids from here.
#pragma once

#include <initializer_list>
#include <string>

namespace mirvo {

// The digit-coded piece stored under resource id (237-245, 252, 254-256, 259),
// written by the build from the configured deployment values. Empty for any
// other id.
std::string coded_constant_text(int id);

// The pieces of ids joined in this order and digit-decoded: the plain value
// the program works with (the same texts load_string() hands out).
std::string decode_coded_constant(std::initializer_list<int> ids);

// The deployment values by name.
std::string server_candidate_url(int index);  // index 0, 1, 2 -> ids 237-239, 240-242, 243-245
std::string request_page_name();              // ids 254, 255, 256
std::string profile_key();                    // id 252
std::string password_document_name();         // id 259

}  // namespace mirvo
