// The edge between the controls' window-system colour values and Qt's
// colours, and the desktop colours the markup's role names stand for.
#pragma once

#include "client/controls/colour.h"

#include <QColor>
#include <QPalette>

namespace mirvo {

inline QColor qcolour(colour_ref c) { return QColor(red_of(c), green_of(c), blue_of(c)); }
inline colour_ref colour_of(const QColor& c) { return rgb(c.red(), c.green(), c.blue()); }

// The 28 role colours from a palette (the application's, normally).
system_colours desktop_colours(const QPalette& palette);

// Frequently used roles, by the desktop names the controls speak of.
inline colour_ref window_text_colour(const QPalette& p) { return colour_of(p.color(QPalette::WindowText)); }
inline colour_ref button_face_colour(const QPalette& p) { return colour_of(p.color(QPalette::Button)); }
inline colour_ref button_shadow_colour(const QPalette& p) { return colour_of(p.color(QPalette::Dark)); }
inline colour_ref button_highlight_colour(const QPalette& p) { return colour_of(p.color(QPalette::Light)); }

}  // namespace mirvo
