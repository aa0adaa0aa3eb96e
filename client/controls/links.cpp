#include "client/controls/links.h"

#include "common/text/gbk.h"

namespace mirvo {

link_hover::result link_hover::track(const std::vector<link_area>& areas, int x, int y) {
    int index = link_at(areas, x, y);
    if (index < 0) index = none;
    result r;
    r.changed = index != hovered_;
    hovered_ = index;
    r.index = index;
    r.over_link = index >= 0 && !areas[static_cast<std::size_t>(index)].text.empty();
    return r;
}

bool is_web_address(std::string_view address) {
    std::string lower = gbk_to_lower(address.substr(0, 8));
    std::size_t rest;
    if (lower.rfind("http://", 0) == 0)
        rest = 7;
    else if (lower.rfind("https://", 0) == 0)
        rest = 8;
    else
        return false;
    // A host must follow, and no byte of the address may be a control byte
    // (an opener could read one as the end of the address).
    if (rest >= address.size() || address[rest] == '/' || address[rest] == '?' || address[rest] == '#') return false;
    for (char c : address)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    return true;
}

std::vector<std::vector<std::string>> browser_commands(std::string_view browser_variable, std::string_view address) {
    std::vector<std::vector<std::string>> out;
    for (const std::string& entry : gbk_split(browser_variable, ":")) {
        std::vector<std::string> argv;
        bool placed = false;
        for (std::string& word : gbk_split(entry, " ")) {
            if (word.empty()) continue;
            if (word.find("%s") != std::string::npos) {
                word = gbk_replace_all(word, "%s", address);
                placed = true;
            }
            argv.push_back(std::move(word));
        }
        if (argv.empty()) continue;
        if (!placed) argv.emplace_back(address);
        out.push_back(std::move(argv));
    }
    out.push_back({"xdg-open", std::string(address)});
    return out;
}

}  // namespace mirvo
