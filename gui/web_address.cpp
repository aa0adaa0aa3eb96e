#include "gui/web_address.h"

#include "common/text/gbk.h"

namespace mirvo {

namespace {

// The bytes a host part may hold: a name or an address with its port, and
// the user information before an "@". A backslash or a blank there is read
// differently by different openers, so the address could lead elsewhere than
// it says.
bool host_part_byte(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return std::string_view("-._~!$&'()*+,;=:@[]%").find(static_cast<char>(c)) != std::string_view::npos;
}

}  // namespace

bool is_web_address(std::string_view address) {
    for (unsigned char c : address)
        if (c < 0x20 || c == 0x7F) return false;
    const std::string scheme = gbk_to_lower(address.substr(0, 8));
    std::size_t rest;
    if (scheme.starts_with("http://"))
        rest = 7;
    else if (scheme.starts_with("https://"))
        rest = 8;
    else
        return false;
    const std::size_t end = std::min(address.find_first_of("/?#", rest), address.size());
    const std::string_view authority = address.substr(rest, end - rest);
    for (unsigned char c : authority)
        if (!host_part_byte(c)) return false;
    // The host itself, after any user information and before any port.
    const std::size_t at = authority.rfind('@');
    const std::string_view host = at == std::string_view::npos ? authority : authority.substr(at + 1);
    return !host.empty() && host.front() != ':';
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
