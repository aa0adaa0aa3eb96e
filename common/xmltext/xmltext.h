// The document query and whole-file text helpers every program uses.
#pragma once

#include "common/fs/paths.h"

#include <cstdint>
#include <memory>
#include <string>

namespace mirvo {

class status_line;

std::string xml_get_value(const std::string& text, const std::string& tag, const std::string& attr_name = {},
                          const std::string& attr_value = {}, const std::string& result_attr = {});
std::string xml_get_file_value(const std::string& path, const std::string& tag, const std::string& attr_name = {},
                               const std::string& attr_value = {}, const std::string& result_attr = {});

// Answers the selecting queries (text, tag, attr_name, v, result_attr) for
// any v and result_attr exactly as xml_get_value does, after one pass over the
// text: numbered records are read without rescanning the document per record.
class xml_record_index {
public:
    xml_record_index(const std::string& text, const std::string& tag, const std::string& attr_name);
    ~xml_record_index();
    xml_record_index(const xml_record_index&) = delete;
    xml_record_index& operator=(const xml_record_index&) = delete;
    std::string get(const std::string& attr_value, const std::string& result_attr = {}) const;

private:
    struct impl;
    std::unique_ptr<impl> d_;
};

// Whole text file; CR LF reads as LF and every line ends with LF.
// On failure: the empty text and, with a status line, "error reading file:" + path.
std::string read_text_file(status_line* status, const std::string& path);
// Writes text with LF as CR LF, replacing the file by rename. On failure the
// old file is unchanged and the status line reads "error in saving file" + path.
bool save_text_file(status_line* status, const std::string& path, const std::string& text,
                    file_access access = file_access::usual);

std::int32_t text_to_int(const std::string& text);
float text_to_float(const std::string& text);
// A version number from a version document: text_to_float of its plain
// decimal part only, so that an exponent ("1e39") cannot make a server's
// version absurdly large; "1e39" reads as 1.
float version_number(const std::string& text);
std::string int_to_text(std::int32_t value);

}  // namespace mirvo
