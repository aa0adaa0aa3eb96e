#include "client/controls/qt_colour.h"

namespace mirvo {

system_colours desktop_colours(const QPalette& p) {
    auto c = [&](QPalette::ColorRole role, QPalette::ColorGroup group = QPalette::Active) {
        return colour_of(p.color(group, role));
    };
    // In the order of system_colour_names.
    return {c(QPalette::Window),
            c(QPalette::Highlight),
            c(QPalette::Dark),
            c(QPalette::Dark),
            c(QPalette::Button),
            c(QPalette::Light),
            c(QPalette::Dark),
            c(QPalette::ButtonText),
            c(QPalette::HighlightedText),
            c(QPalette::WindowText, QPalette::Disabled),
            c(QPalette::Highlight),
            c(QPalette::HighlightedText),
            c(QPalette::Window),
            c(QPalette::Mid),
            c(QPalette::HighlightedText, QPalette::Inactive),
            c(QPalette::ToolTipBase),
            c(QPalette::ToolTipText),
            c(QPalette::Window),
            c(QPalette::WindowText),
            c(QPalette::Midlight),
            c(QPalette::Shadow),
            c(QPalette::Button),
            c(QPalette::Light),
            c(QPalette::Midlight),
            c(QPalette::Dark),
            c(QPalette::Base),
            c(QPalette::Shadow),
            c(QPalette::WindowText)};
}

}  // namespace mirvo
