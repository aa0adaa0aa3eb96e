#include "updater/download_list.h"

#include "common/protocol/request.h"
#include "common/text/gbk.h"
#include "common/xmltext/xmltext.h"

namespace mirvo {

download_list read_download_list(const std::string& text) {
    download_list list;
    read_records(text, "file", "get_name", record_stop::first_empty, [&](const record& r) {
        list.entries.push_back({r.order(), r.get("get_name"), r.get("save_as"), r.get("sha256"), r.get("size")});
    });
    list.version_file = xml_get_value(text, "version_file");
    list.run_after_download = xml_get_value(text, "run_after_download");
    // It goes into a message box: a line of a sane length.
    list.show_message = gbk_prefix(xml_get_value(text, "show_message"), max_shown_service_text);
    return list;
}

name_parts split_get_name(const std::string& get_name) {
    // Step by GBK character: a trail byte 0x5C is no separator.
    std::size_t last = std::string::npos;
    for (std::size_t i = 0; i < get_name.size(); i += gbk_char_len(get_name, i)) {
        const char c = get_name[i];
        if ((c == '\\' || c == '/') && gbk_char_len(get_name, i) == 1) last = i;
    }
    if (last == std::string::npos) return {{}, get_name};
    return {get_name.substr(0, last), get_name.substr(last + 1)};
}

}  // namespace mirvo
