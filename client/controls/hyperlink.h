// The two operations the windows use of a link control (the HTML static's
// SetHyperlinkText and SetLinkColours), so that the windows' Qt-free cores
// can drive their links, and their tests record what they were told.
#pragma once

#include "client/controls/colour.h"

#include <string>

namespace mirvo {

// The link colours the windows use (0xFF0000 and 0x0000FF as values).
inline constexpr colour_ref colour_blue = rgb(0, 0, 255);
inline constexpr colour_ref colour_red = rgb(255, 0, 0);

class hyperlink {
public:
    virtual ~hyperlink() = default;
    // Shows one link: text (GBK) that leads to address.
    virtual void SetHyperlinkText(const std::string& text, const std::string& address) = 0;
    // The looks of a link at rest and under the mouse.
    virtual void SetLinkColours(colour_ref colour, bool underline, colour_ref hover_colour) = 0;
};

}  // namespace mirvo
