// Which addresses the client opens, and the programs it tries when the
// desktop's opener cannot open one. Qt-free, so that the rule can be tested
// and fuzzed without a display; gui/desktop.h opens through it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace mirvo {

// True for an absolute http or https address with a host: the only kind of
// address from the service that the client opens. No local files, no other
// programs' schemes, no control bytes anywhere (an opener could read one as
// the end of the address) and nothing in the host part that an opener could
// read as a different host.
bool is_web_address(std::string_view address);

// The programs tried, in order, when the desktop's opener cannot open
// address: each entry of the BROWSER variable (entries separated by ":",
// words by spaces, "%s" standing for the address, else the address appended),
// then xdg-open. Each command is an argument vector, never a shell line.
std::vector<std::vector<std::string>> browser_commands(std::string_view browser_variable, std::string_view address);

}  // namespace mirvo
