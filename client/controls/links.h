// What the link controls decide without a window: which hovered link changed,
// which addresses may be opened and which browser commands are tried when the
// desktop's opener fails.
#pragma once

#include "client/controls/layout.h"

#include <string>
#include <string_view>
#include <vector>

namespace mirvo {

// The hovered link area of a drawer.
class link_hover {
public:
    static constexpr int none = -2;

    struct result {
        bool changed = false;    // the hovered index is new: notify the window
        bool over_link = false;  // over a link with a target: show the link cursor
        int index = none;
    };

    result track(const std::vector<link_area>& areas, int x, int y);
    int hovered() const { return hovered_; }
    void reset() { hovered_ = none; }

private:
    int hovered_ = none;
};

// True for an absolute http or https address with a host. Links from the
// service open nothing else: no local files, no other programs' schemes.
bool is_web_address(std::string_view address);

// The programs tried, in order, when the desktop's opener cannot open
// address: each entry of the BROWSER variable (entries separated by ":",
// words by spaces, "%s" standing for the address, else the address appended),
// then xdg-open. Each command is an argument vector, never a shell line.
std::vector<std::vector<std::string>> browser_commands(std::string_view browser_variable, std::string_view address);

}  // namespace mirvo
