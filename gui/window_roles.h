// How the programs' windows present themselves to window managers that
// treat dialogs and their owners differently (GNOME's mutter, weston's
// Xwayland manager): what icewm lets pass, they do not.
#pragma once

class QWidget;

namespace mirvo {

// A window that stays above its owner (a Qt::Dialog with a parent) and yet
// must be maximisable: to X11 window managers a dialog is no such thing
// (mutter offers dialogs neither maximising nor minimising), so it is
// presented as a normal window that keeps its owner. Call before it is first
// shown; elsewhere than on X11 nothing changes.
void present_as_main_window(QWidget* window);

// False where the window manager cannot keep a window above the others
// (it does not list _NET_WM_STATE_ABOVE among what it supports): such a
// manager also places windows itself, wherever the program put them. True
// elsewhere than on X11.
bool window_manager_keeps_windows_on_top();

}  // namespace mirvo
