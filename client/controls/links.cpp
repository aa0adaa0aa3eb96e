#include "client/controls/links.h"

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

}  // namespace mirvo
