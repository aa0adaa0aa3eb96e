// What the link controls decide without a window: which hovered link changed.
// Which addresses may be opened is the desktop seam's rule (gui/web_address.h).
#pragma once

#include "client/controls/layout.h"

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

}  // namespace mirvo
