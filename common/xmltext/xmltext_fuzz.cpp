// Feeds arbitrary documents and query parts to the document query.
#include "common/xmltext/xmltext.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string in(reinterpret_cast<const char*>(data), size);
    // The first bytes choose the query; the rest is the document.
    std::size_t cut = in.find('\x01');
    std::string query = cut == std::string::npos ? "a" : in.substr(0, cut);
    std::string doc = cut == std::string::npos ? in : in.substr(cut + 1);
    std::string tag = query.substr(0, query.find(' '));
    mirvo::xml_get_value(doc, tag);
    mirvo::xml_get_value(doc, tag, "order", "1", "name");
    mirvo::xml_get_value(doc, tag, "order", "", "");
    // The record index must agree with the query it stands in for.
    mirvo::xml_record_index index(doc, tag, "order");
    for (const char* order : {"1", "2", "", "01"})
        for (const char* attr : {"", "name"})
            if (index.get(order, attr) != mirvo::xml_get_value(doc, tag, "order", order, attr)) __builtin_trap();
    mirvo::text_to_int(doc);
    mirvo::text_to_float(doc);
    return 0;
}
