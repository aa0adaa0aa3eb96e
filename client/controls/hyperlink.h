// The two operations the windows use of a link control (the HTML static's
// SetHyperlinkText and SetLinkColours), so that the lesson window and the
// notice window can drive their links without knowing which control draws
// them, and tests can record what they were told.
#pragma once

#include <cstdint>
#include <string>

namespace mirvo {

// A window-system colour value: 0x00BBGGRR.
using colour_ref = std::uint32_t;
inline constexpr colour_ref colour_blue = 0xFF0000;
inline constexpr colour_ref colour_red = 0x0000FF;

class hyperlink {
public:
    virtual ~hyperlink() = default;
    // Shows one link: text (GBK) that leads to address.
    virtual void SetHyperlinkText(const std::string& text, const std::string& address) = 0;
    // The looks of a link at rest and under the mouse.
    virtual void SetLinkColours(colour_ref colour, bool underline, colour_ref hover_colour) = 0;
};

}  // namespace mirvo
