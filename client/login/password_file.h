// The cipher of the per-user password files: RC4 keyed with the 16-byte MD5
// digest of a key text, the whole file one stream, no header, salt or check
// value, so the output is exactly as long as the input. RC4 is its own
// inverse: the same operation encrypts and decrypts.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace mirvo {

// data run through the cipher under key_text (both directions).
std::string password_cipher(const std::string& key_text, std::string_view data);

// Read in pieces of 1000 bytes from in (already opened for binary reading)
// and write the result to out_path (GBK path), replacing it. The call owns
// in and closes it, and closes its output, on every path. On any failure the
// output file is removed, so no partial or stale result stays behind; the
// result is false.
bool encrypt_file(const std::string& key_text, const std::string& out_path, std::FILE* in);
bool decrypt_file(const std::string& out_path, const std::string& key_text, std::FILE* in);

}  // namespace mirvo
