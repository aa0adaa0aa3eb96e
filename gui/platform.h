// Which window system the programs run on. The notice is placed at the
// bottom right and must never take the keyboard, which only X11 lets a
// program ask for: in a Wayland session they run through Xwayland (xcb)
// unless the user named a platform. A platform named alone gets the other
// one behind it, so a missing or failing plugin does not stop the program.
#pragma once

#include <string>

namespace mirvo {

// What the choice depends on; an unset variable is empty.
struct platform_environment {
    std::string qt_qpa_platform;  // QT_QPA_PLATFORM, the user's own request
    std::string wayland_display;  // WAYLAND_DISPLAY
    std::string x_display;        // DISPLAY (Xwayland's in a Wayland session)
    std::string session_type;     // XDG_SESSION_TYPE
};

platform_environment read_platform_environment();

// The platform list for Qt ("xcb;wayland", Qt tries them in order), or empty
// where Qt's own choice is right (an X11 session, a platform the user named
// that has no counterpart, such as offscreen).
std::string choose_platform(const platform_environment& env);

// Sets the choice for the application object about to be made; once it
// exists, restore_environment() gives programs started later the
// environment the user gave.
class platform_choice {
public:
    platform_choice();
    void restore_environment();

private:
    bool had_value_ = false;
    std::string user_value_;
    bool restored_ = false;
};

}  // namespace mirvo
