// The programs' texts on the fonts a Linux system has. The windows ask for
// "宋体", a name no Linux system carries; it is mapped to the Chinese fonts
// the set-up installs. Without
// any Chinese font every text draws as boxes, so the user is told which
// package to install, in a box that draws without one.
#pragma once

#include <string>

namespace mirvo {

// The Chinese fonts the windows' font names stand for, best first.
void map_window_fonts();

// True when an installed font can draw the programs' texts.
bool chinese_font_installed();

// The box's text: plain ASCII, naming the packages to install.
std::string missing_chinese_font_text();

// What every program does at start-up once its application object exists:
// the font names mapped, and Qt's own texts in Chinese where Chinese can be
// drawn (where it cannot, English buttons stay readable). With tell_user,
// a missing Chinese font is said in a box. False when Chinese cannot be drawn.
bool set_up_program_texts(bool tell_user);

}  // namespace mirvo
